#include "formats/Minisign.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace orvex::minisign {

namespace {

constexpr std::string_view UntrustedPrefix = "untrusted comment: ";
constexpr std::string_view TrustedPrefix = "trusted comment: ";
constexpr std::string_view KeyAlgorithm = "Ed";
constexpr std::string_view LegacyAlgorithm = "Ed";
constexpr std::string_view PrehashedAlgorithm = "ED";
constexpr std::string_view NoKdf{"\0\0", 2};
constexpr std::string_view ScryptKdf = "Sc";
constexpr std::string_view ChecksumAlgorithm = "B2";

constexpr std::size_t AlgorithmSize = 2;
constexpr std::size_t KeyIdSize = 8;
constexpr std::size_t PublicKeySize = AlgorithmSize + KeyIdSize + crypto_sign_PUBLICKEYBYTES;
constexpr std::size_t SignatureLineSize = AlgorithmSize + KeyIdSize + crypto_sign_BYTES;
constexpr std::size_t KdfParamsSize = 32 + 8 + 8;  // salt, opslimit, memlimit
constexpr std::size_t ChecksumSize = crypto_generichash_BYTES;
constexpr std::size_t SecretKeySize =
    3 * AlgorithmSize + KdfParamsSize + KeyIdSize + crypto_sign_SECRETKEYBYTES + ChecksumSize;

using TBytes = std::vector<uint8_t>;

void StartSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

std::string Base64(const TBytes& bytes) {
    std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// The bytes of the whole line, or nothing when it is not base64 of exactly size bytes.
std::optional<TBytes> FromBase64(std::string_view line, std::size_t size) {
    TBytes bytes(size + 3);
    std::size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), line.data(), line.size(), nullptr, &decoded, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != line.data() + line.size() || decoded != size)
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

std::string_view Bytes(const TBytes& bytes, std::size_t offset, std::size_t size) {
    return {reinterpret_cast<const char*>(bytes.data()) + offset, size};
}

template <std::size_t N>
void CopyOut(const TBytes& bytes, std::size_t offset, std::array<uint8_t, N>& into) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, into.begin());
}

void Append(TBytes& bytes, std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }

template <std::size_t N>
void Append(TBytes& bytes, const std::array<uint8_t, N>& part) { bytes.insert(bytes.end(), part.begin(), part.end()); }

// Lines without their "\r"; a final line break does not start another line.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void RequireOneLine(std::string_view text, const char* what) {
    if (text.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument(std::string(what) + " must be a single line");
}

TParsed<TPublicKey> ParsePublicKeyLine(std::string_view line) {
    const auto bytes = FromBase64(line, PublicKeySize);
    if (!bytes) return TParsed<TPublicKey>::Refused("public key is not base64 of " + std::to_string(PublicKeySize) + " bytes");
    if (Bytes(*bytes, 0, AlgorithmSize) != KeyAlgorithm)
        return TParsed<TPublicKey>::Refused("public key is not an Ed25519 key");
    TPublicKey key;
    CopyOut(*bytes, AlgorithmSize, key.KeyId);
    CopyOut(*bytes, AlgorithmSize + KeyIdSize, key.Key);
    return {key, {}};
}

std::array<uint8_t, crypto_generichash_BYTES_MAX> Prehash(std::string_view data) {
    std::array<uint8_t, crypto_generichash_BYTES_MAX> hash{};
    crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const uint8_t*>(data.data()), data.size(), nullptr, 0);
    return hash;
}

bool VerifyDetached(const std::array<uint8_t, 64>& signature, const TBytes& message, const TPublicKey& key) {
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), key.Key.data()) == 0;
}

std::array<uint8_t, 64> SignDetached(const TBytes& message, const TSecretKey& key) {
    std::array<uint8_t, 64> signature{};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), key.Key.data());
    return signature;
}

// What the key signs for the data: the data itself, or its hash.
TBytes SignedMessage(TSignatureAlgorithm algorithm, std::string_view data) {
    TBytes message;
    if (algorithm == TSignatureAlgorithm::Legacy)
        Append(message, data);
    else
        Append(message, Prehash(data));
    return message;
}

TBytes GlobalMessage(const TSignature& signature) {
    TBytes message;
    Append(message, signature.Signature);
    Append(message, signature.TrustedComment);
    return message;
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

// A decimal number that fits, with nothing else around it.
std::optional<uint64_t> Decimal(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

TPublicKey TSecretKey::PublicKey() const {
    TPublicKey key;
    key.KeyId = KeyId;
    crypto_sign_ed25519_sk_to_pk(key.Key.data(), Key.data());
    return key;
}

std::string KeyIdText(const TKeyId& keyId) {
    uint64_t number = 0;
    for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) number = (number << 8) | *byte;
    // As minisign prints it: without leading zeros, so that key files compare byte for byte.
    char hex[17];
    std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(number));
    return hex;
}

TParsed<TPublicKey> ParsePublicKey(std::string_view text) {
    StartSodium();
    const auto lines = Lines(text);
    if (lines.size() == 2 && StartsWith(lines[0], UntrustedPrefix)) return ParsePublicKeyLine(lines[1]);
    if (lines.size() == 1) return ParsePublicKeyLine(lines[0]);
    return TParsed<TPublicKey>::Refused("a public key is one base64 line, after an optional untrusted comment line");
}

TParsed<std::vector<TPublicKey>> ParsePublicKeys(std::string_view text) {
    StartSodium();
    std::vector<TPublicKey> keys;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        text.remove_prefix(start);
        const std::size_t end = std::min(text.find(' '), text.size());
        const auto key = ParsePublicKeyLine(text.substr(0, end));
        if (!key) return TParsed<std::vector<TPublicKey>>::Refused("key " + std::to_string(keys.size() + 1) + ": " + key.Error);
        keys.push_back(*key.Value);
        text.remove_prefix(end);
    }
    return {keys, {}};
}

std::string PublicKeyLine(const TPublicKey& key) {
    StartSodium();
    TBytes bytes;
    Append(bytes, KeyAlgorithm);
    Append(bytes, key.KeyId);
    Append(bytes, key.Key);
    return Base64(bytes);
}

std::string PublicKeyFile(const TPublicKey& key) {
    return std::string(UntrustedPrefix) + "minisign public key " + KeyIdText(key.KeyId) + "\n" + PublicKeyLine(key) + "\n";
}

TParsed<TSignature> ParseSignature(std::string_view text) {
    StartSodium();
    using Refused = TParsed<TSignature>;
    const auto lines = Lines(text);
    if (lines.size() != 4) return Refused::Refused("a signature has 4 lines, not " + std::to_string(lines.size()));
    if (!StartsWith(lines[0], UntrustedPrefix)) return Refused::Refused("line 1 is not an untrusted comment");
    if (!StartsWith(lines[2], TrustedPrefix)) return Refused::Refused("line 3 is not a trusted comment");
    const auto signatureBytes = FromBase64(lines[1], SignatureLineSize);
    if (!signatureBytes)
        return Refused::Refused("line 2 is not base64 of " + std::to_string(SignatureLineSize) + " bytes");
    const auto globalBytes = FromBase64(lines[3], crypto_sign_BYTES);
    if (!globalBytes) return Refused::Refused("line 4 is not base64 of " + std::to_string(crypto_sign_BYTES) + " bytes");

    TSignature signature;
    const std::string_view algorithm = Bytes(*signatureBytes, 0, AlgorithmSize);
    if (algorithm == PrehashedAlgorithm)
        signature.Algorithm = TSignatureAlgorithm::Prehashed;
    else if (algorithm == LegacyAlgorithm)
        signature.Algorithm = TSignatureAlgorithm::Legacy;
    else
        return Refused::Refused("unknown signature algorithm");
    signature.UntrustedComment = std::string(lines[0].substr(UntrustedPrefix.size()));
    CopyOut(*signatureBytes, AlgorithmSize, signature.KeyId);
    CopyOut(*signatureBytes, AlgorithmSize + KeyIdSize, signature.Signature);
    signature.TrustedComment = std::string(lines[2].substr(TrustedPrefix.size()));
    CopyOut(*globalBytes, 0, signature.GlobalSignature);
    return {signature, {}};
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

TVerification Verify(const std::vector<TPublicKey>& trustedKeys, std::string_view signatureText, std::string_view data) {
    const auto parsed = ParseSignature(signatureText);
    if (!parsed) return {TVerdict::Malformed, parsed.Error, {}};
    const TSignature& signature = *parsed.Value;
    const auto key = std::find_if(trustedKeys.begin(), trustedKeys.end(),
                                  [&](const TPublicKey& trusted) { return trusted.KeyId == signature.KeyId; });
    if (key == trustedKeys.end())
        return {TVerdict::KeyNotTrusted, "signed with key " + KeyIdText(signature.KeyId) + ", which is not trusted", {}};
    if (!VerifyDetached(signature.Signature, SignedMessage(signature.Algorithm, data), *key))
        return {TVerdict::SignatureWrong, "the signature does not match the data", {}};
    if (!VerifyDetached(signature.GlobalSignature, GlobalMessage(signature), *key))
        return {TVerdict::TrustedCommentWrong, "the trusted comment is not the one signed", {}};
    return {TVerdict::Ok, {}, signature.TrustedComment};
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

TParsed<TTrustedFields> ParseTrustedFields(std::string_view comment) {
    using Refused = TParsed<TTrustedFields>;
    std::optional<uint64_t> rev, seq, expires;
    std::size_t start = 0;
    while ((start = comment.find_first_not_of(' ', start)) != std::string_view::npos) {
        const std::size_t end = std::min(comment.find(' ', start), comment.size());
        const std::string_view pair = comment.substr(start, end - start);
        start = end;
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = pair.substr(0, equals);
        std::optional<uint64_t>* field = name == "rev" ? &rev : name == "seq" ? &seq : name == "expires" ? &expires : nullptr;
        if (!field) continue;
        if (field->has_value()) return Refused::Refused(std::string(name) + " is given twice");
        *field = Decimal(pair.substr(equals + 1));
        if (!field->has_value()) return Refused::Refused(std::string(name) + " is not a decimal number: " + std::string(pair));
    }
    if (!rev) return Refused::Refused("rev is missing");
    if (!seq) return Refused::Refused("seq is missing");
    return {TTrustedFields{*rev, *seq, expires}, {}};
}

std::string FormatTrustedFields(const TTrustedFields& fields) {
    std::string text = "rev=" + std::to_string(fields.Rev) + " seq=" + std::to_string(fields.Seq);
    if (fields.Expires) text += " expires=" + std::to_string(*fields.Expires);
    return text;
}

}  // namespace orvex::minisign
