#pragma once
// Ed25519 keys and signatures in minisign's file formats, so that the standard `minisign` tool and
// orvex-publish can sign and check update lists interchangeably. All cryptography is libsodium's.
//
// Public key:  "untrusted comment: ..." line (optional), then base64 of "Ed" + key id(8) + key(32).
// Signature:   "untrusted comment: ..."
//              base64 of "ED" + key id(8) + signature(64)      ("Ed": legacy, over the data itself;
//                                                               "ED": over BLAKE2b-512 of the data)
//              "trusted comment: <text>"
//              base64 of the global signature(64) over signature(64) + <text>
// Secret key:  "untrusted comment: ..." then base64 of "Ed" + kdf(2) + "B2" + salt(32) + opslimit(8)
//              + memlimit(8) + key id(8) + secret key(64) + checksum(32). Only keys without a password
//              are read (kdf bytes zero, as `minisign -G -W` writes them). The checksum is
//              BLAKE2b-256 of "Ed" + key id + secret key; `minisign -G -W` leaves it zero, which is
//              taken too.
//
// The trusted comment of an update list's signature says which list it signs, written as
// space-separated key=value pairs in decimal, e.g. with `minisign -S -t "rev=12 seq=7 expires=1767225600"`:
//   rev=N      the list's revision (required)
//   seq=N      the publisher's sequence number, growing with each signing (required)
//   expires=N  Unix seconds after which the signature no longer counts (optional)
//   channel=NAME  the server folder's channel, 1 to 64 of A-Z a-z 0-9 . _ - (optional)
// Unknown keys are ignored so later publishers can add some; a known key with a value that is not
// a plain decimal number (or a channel that is not a name), or given twice, refuses the whole comment.
#include "formats/Parsed.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvex::minisign {

using TKeyId = std::array<uint8_t, 8>;

struct TPublicKey {
    TKeyId KeyId{};
    std::array<uint8_t, 32> Key{};
};

struct TSecretKey {
    TKeyId KeyId{};
    // libsodium's form: the seed, then the public key.
    std::array<uint8_t, 64> Key{};

    TPublicKey PublicKey() const;
};

struct TKeyPair {
    TPublicKey Public;
    TSecretKey Secret;
};

using orvex::TParsed;

enum class TSignatureAlgorithm {
    Legacy,     // "Ed": the data itself is signed
    Prehashed,  // "ED": its BLAKE2b-512 is signed
};

struct TSignature {
    std::string UntrustedComment;
    TSignatureAlgorithm Algorithm = TSignatureAlgorithm::Prehashed;
    TKeyId KeyId{};
    std::array<uint8_t, 64> Signature{};
    std::string TrustedComment;
    std::array<uint8_t, 64> GlobalSignature{};
};

// The key id as minisign shows it: upper-case hex without leading zeros, the bytes read as a
// little-endian number.
std::string KeyIdText(const TKeyId& keyId);

// A public key file, or its bare base64 line.
TParsed<TPublicKey> ParsePublicKey(std::string_view text);
// Base64 lines separated by spaces or tabs (SplitOnSpaces; none: an empty list).
TParsed<std::vector<TPublicKey>> ParsePublicKeys(std::string_view text);
std::string PublicKeyLine(const TPublicKey& key);
std::string PublicKeyFile(const TPublicKey& key);

TParsed<TSignature> ParseSignature(std::string_view text);
std::string SignatureFile(const TSignature& signature);

enum class TVerdict {
    Ok,
    Malformed,             // the signature text is not a minisign signature
    KeyNotTrusted,         // signed with a key whose id is not among the trusted keys
    SignatureWrong,        // the data is not what was signed
    TrustedCommentWrong,   // the trusted comment is not what was signed
};

struct TVerification {
    TVerdict Verdict = TVerdict::Malformed;
    // Why it failed, for the log; empty when Ok.
    std::string Reason;
    // Only when Ok.
    std::string TrustedComment;
    TPublicKey Key;  // the trusted key that made it
};

TVerification Verify(const std::vector<TPublicKey>& trustedKeys, std::string_view signatureText,
                     std::string_view data);

TKeyPair GenerateKeyPair();
// A key file that `minisign -S -W -s FILE` signs with.
std::string SecretKeyFile(const TSecretKey& key, std::string_view untrustedComment = "minisign secret key");
TParsed<TSecretKey> ParseSecretKey(std::string_view text);

// The .minisig text of a prehashed ("ED") signature. The comments are single lines: a line break in
// either raises std::invalid_argument.
std::string Sign(const TSecretKey& key, std::string_view data, std::string_view trustedComment,
                 std::string_view untrustedComment = "signature from minisign secret key");

struct TTrustedFields {
    uint64_t Rev = 0;
    uint64_t Seq = 0;
    std::optional<uint64_t> Expires;
    std::string Channel;  // empty: none named
};

// Whether name can be a channel in a trusted comment.
bool IsChannelName(std::string_view name);

TParsed<TTrustedFields> ParseTrustedFields(std::string_view comment);
std::string FormatTrustedFields(const TTrustedFields& fields);

}  // namespace orvex::minisign
