#include "formats/Minisign.h"
#include "formats/MinisignParts.h"

#include "base/Exceptions.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

// Reading minisign's files and checking signatures (all the launcher needs).
namespace orvex::minisign {

using namespace detail;

namespace {

std::array<uint8_t, crypto_generichash_BYTES_MAX> Prehash(std::string_view data) {
    std::array<uint8_t, crypto_generichash_BYTES_MAX> hash{};
    crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const uint8_t*>(data.data()), data.size(), nullptr, 0);
    return hash;
}

bool VerifyDetached(const std::array<uint8_t, 64>& signature, const TBytes& message, const TPublicKey& key) {
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), key.Key.data()) == 0;
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

namespace detail {

void StartSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

std::string Base64(const TBytes& bytes) {
    std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

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

}  // namespace detail

std::string KeyIdText(const TKeyId& keyId) {
    uint64_t number = 0;
    for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) number = (number << 8) | *byte;
    // As minisign prints it: without leading zeros, so that key files compare byte for byte.
    return Format("%llX", static_cast<unsigned long long>(number));
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
    for (const std::string& line : SplitOnSpaces(text)) {
        const auto key = ParsePublicKeyLine(line);
        if (!key) return TParsed<std::vector<TPublicKey>>::Refused("key " + std::to_string(keys.size() + 1) + ": " + key.Error);
        keys.push_back(*key.Value);
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

TVerification Verify(const std::vector<TPublicKey>& trustedKeys, std::string_view signatureText, std::string_view data) {
    const auto parsed = ParseSignature(signatureText);
    if (!parsed) return {TVerdict::Malformed, parsed.Error, {}, {}};
    const TSignature& signature = *parsed.Value;
    const auto key = std::find_if(trustedKeys.begin(), trustedKeys.end(),
                                  [&](const TPublicKey& trusted) { return trusted.KeyId == signature.KeyId; });
    if (key == trustedKeys.end())
        return {TVerdict::KeyNotTrusted, "signed with key " + KeyIdText(signature.KeyId) + ", which is not trusted", {}, {}};
    if (!VerifyDetached(signature.Signature, SignedMessage(signature.Algorithm, data), *key))
        return {TVerdict::SignatureWrong, "the signature does not match the data", {}, {}};
    if (!VerifyDetached(signature.GlobalSignature, GlobalMessage(signature), *key))
        return {TVerdict::TrustedCommentWrong, "the trusted comment is not the one signed", {}, {}};
    return {TVerdict::Ok, {}, signature.TrustedComment, *key};
}

bool IsChannelName(std::string_view name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    });
}

TParsed<TTrustedFields> ParseTrustedFields(std::string_view comment) {
    using Refused = TParsed<TTrustedFields>;
    std::optional<uint64_t> rev, seq, expires;
    std::optional<std::string_view> channel;
    std::size_t start = 0;
    while ((start = comment.find_first_not_of(' ', start)) != std::string_view::npos) {
        const std::size_t end = std::min(comment.find(' ', start), comment.size());
        const std::string_view pair = comment.substr(start, end - start);
        start = end;
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = pair.substr(0, equals), value = pair.substr(equals + 1);
        if (name == "channel") {
            if (channel) return Refused::Refused("channel is given twice");
            if (!IsChannelName(value)) return Refused::Refused("channel is not a channel name: " + std::string(pair));
            channel = value;
            continue;
        }
        std::optional<uint64_t>* field = name == "rev" ? &rev : name == "seq" ? &seq : name == "expires" ? &expires : nullptr;
        if (!field) continue;
        if (field->has_value()) return Refused::Refused(std::string(name) + " is given twice");
        *field = Decimal(value);
        if (!field->has_value()) return Refused::Refused(std::string(name) + " is not a decimal number: " + std::string(pair));
    }
    if (!rev) return Refused::Refused("rev is missing");
    if (!seq) return Refused::Refused("seq is missing");
    return {TTrustedFields{*rev, *seq, expires, std::string(channel.value_or(""))}, {}};
}

}  // namespace orvex::minisign
