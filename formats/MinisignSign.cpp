// Writing minisign's files: new keys, secret key files and signatures (the publisher's side).
#include "formats/Minisign.h"
#include "formats/MinisignParts.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

namespace orvex::minisign {

using namespace detail;

namespace {

void RequireOneLine(std::string_view text, const char* what) {
    if (text.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument(std::string(what) + " must be a single line");
}

std::array<uint8_t, 64> SignDetached(const TBytes& message, const TSecretKey& key) {
    std::array<uint8_t, 64> signature{};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), key.Key.data());
    return signature;
}

std::array<uint8_t, ChecksumSize> SecretKeyChecksum(const TSecretKey& key) {
    TBytes input;
    Append(input, KeyAlgorithm);
    Append(input, key.KeyId);
    Append(input, key.Key);
    std::array<uint8_t, ChecksumSize> checksum{};
    crypto_generichash(checksum.data(), checksum.size(), input.data(), input.size(), nullptr, 0);
    return checksum;
}

}  // namespace

TPublicKey TSecretKey::PublicKey() const {
    TPublicKey key;
    key.KeyId = KeyId;
    crypto_sign_ed25519_sk_to_pk(key.Key.data(), Key.data());
    return key;
}

std::string PublicKeyFile(const TPublicKey& key) {
    return std::string(UntrustedPrefix) + "minisign public key " + KeyIdText(key.KeyId) + "\n" + PublicKeyLine(key) + "\n";
}

std::string SignatureFile(const TSignature& signature) {
    StartSodium();
    TBytes bytes;
    Append(bytes, signature.Algorithm == TSignatureAlgorithm::Prehashed ? PrehashedAlgorithm : LegacyAlgorithm);
    Append(bytes, signature.KeyId);
    Append(bytes, signature.Signature);
    const TBytes global(signature.GlobalSignature.begin(), signature.GlobalSignature.end());
    return std::string(UntrustedPrefix) + signature.UntrustedComment + "\n" + Base64(bytes) + "\n" +
           std::string(TrustedPrefix) + signature.TrustedComment + "\n" + Base64(global) + "\n";
}

TKeyPair GenerateKeyPair() {
    StartSodium();
    TKeyPair pair;
    randombytes_buf(pair.Secret.KeyId.data(), pair.Secret.KeyId.size());
    crypto_sign_keypair(pair.Public.Key.data(), pair.Secret.Key.data());
    pair.Public.KeyId = pair.Secret.KeyId;
    return pair;
}

std::string SecretKeyFile(const TSecretKey& key, std::string_view untrustedComment) {
    RequireOneLine(untrustedComment, "the untrusted comment");
    StartSodium();
    TBytes bytes;
    Append(bytes, KeyAlgorithm);
    Append(bytes, NoKdf);
    Append(bytes, ChecksumAlgorithm);
    bytes.resize(bytes.size() + KdfParamsSize, 0);
    Append(bytes, key.KeyId);
    Append(bytes, key.Key);
    Append(bytes, SecretKeyChecksum(key));
    return std::string(UntrustedPrefix) + std::string(untrustedComment) + "\n" + Base64(bytes) + "\n";
}

TParsed<TSecretKey> ParseSecretKey(std::string_view text) {
    StartSodium();
    using Refused = TParsed<TSecretKey>;
    const auto lines = Lines(text);
    if (lines.size() != 2 || !StartsWith(lines[0], UntrustedPrefix))
        return Refused::Refused("a secret key is an untrusted comment line and one base64 line");
    const auto bytes = FromBase64(lines[1], SecretKeySize);
    if (!bytes) return Refused::Refused("the secret key is not base64 of " + std::to_string(SecretKeySize) + " bytes");
    if (Bytes(*bytes, 0, AlgorithmSize) != KeyAlgorithm) return Refused::Refused("the secret key is not an Ed25519 key");
    const std::string_view kdf = Bytes(*bytes, AlgorithmSize, AlgorithmSize);
    if (kdf == ScryptKdf)
        return Refused::Refused("the secret key is protected by a password; use a key without one "
                                "(minisign -G -W makes one, minisign -C -W removes the password)");
    if (kdf != NoKdf) return Refused::Refused("the secret key's protection is unknown");
    if (Bytes(*bytes, 2 * AlgorithmSize, AlgorithmSize) != ChecksumAlgorithm)
        return Refused::Refused("the secret key's checksum algorithm is unknown");

    TSecretKey key;
    const std::size_t keyIdOffset = 3 * AlgorithmSize + KdfParamsSize;
    CopyOut(*bytes, keyIdOffset, key.KeyId);
    CopyOut(*bytes, keyIdOffset + KeyIdSize, key.Key);
    std::array<uint8_t, ChecksumSize> checksum{};
    CopyOut(*bytes, keyIdOffset + KeyIdSize + crypto_sign_SECRETKEYBYTES, checksum);
    const bool checksumLeftOut = std::all_of(checksum.begin(), checksum.end(), [](uint8_t b) { return b == 0; });
    if (!checksumLeftOut && checksum != SecretKeyChecksum(key)) return Refused::Refused("the secret key's checksum is wrong");

    // The key's second half is its public key; a damaged key would sign what nobody can verify.
    std::array<uint8_t, crypto_sign_PUBLICKEYBYTES> derived{};
    std::array<uint8_t, crypto_sign_SECRETKEYBYTES> rebuilt{};
    crypto_sign_seed_keypair(derived.data(), rebuilt.data(), key.Key.data());
    const bool consistent = rebuilt == key.Key;
    sodium_memzero(rebuilt.data(), rebuilt.size());
    if (!consistent) return Refused::Refused("the secret key is damaged: its halves do not belong together");
    return {key, {}};
}

std::string Sign(const TSecretKey& key, std::string_view data, std::string_view trustedComment,
                 std::string_view untrustedComment) {
    RequireOneLine(trustedComment, "the trusted comment");
    RequireOneLine(untrustedComment, "the untrusted comment");
    StartSodium();
    TSignature signature;
    signature.UntrustedComment = std::string(untrustedComment);
    signature.Algorithm = TSignatureAlgorithm::Prehashed;
    signature.KeyId = key.KeyId;
    signature.Signature = SignDetached(SignedMessage(signature.Algorithm, data), key);
    signature.TrustedComment = std::string(trustedComment);
    signature.GlobalSignature = SignDetached(GlobalMessage(signature), key);
    return SignatureFile(signature);
}

std::string FormatTrustedFields(const TTrustedFields& fields) {
    std::string text = "rev=" + std::to_string(fields.Rev) + " seq=" + std::to_string(fields.Seq);
    if (fields.Expires) text += " expires=" + std::to_string(*fields.Expires);
    if (!fields.Channel.empty()) text += " channel=" + fields.Channel;
    return text;
}

}  // namespace orvex::minisign
