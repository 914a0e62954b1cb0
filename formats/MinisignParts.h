#pragma once
// What reading and writing minisign's files share: the layout of keys and signatures, base64 and
// the messages an Ed25519 key signs. Only Minisign*.cpp include this.
#include "base/Text.h"
#include "formats/Minisign.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::minisign::detail {

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

// Raises when libsodium cannot start; cheap after the first call.
void StartSodium();
std::string Base64(const TBytes& bytes);
// The bytes of the whole line, or nothing when it is not base64 of exactly size bytes.
std::optional<TBytes> FromBase64(std::string_view line, std::size_t size);
// Lines without their "\r"; a final line break does not start another line.
std::vector<std::string_view> Lines(std::string_view text);
// What the key signs for the data: the data itself, or its hash.
TBytes SignedMessage(TSignatureAlgorithm algorithm, std::string_view data);
// What the global signature signs: the signature and the trusted comment.
TBytes GlobalMessage(const TSignature& signature);

inline std::string_view Bytes(const TBytes& bytes, std::size_t offset, std::size_t size) {
    return {reinterpret_cast<const char*>(bytes.data()) + offset, size};
}

template <std::size_t N>
void CopyOut(const TBytes& bytes, std::size_t offset, std::array<uint8_t, N>& into) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, into.begin());
}

inline void Append(TBytes& bytes, std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }

template <std::size_t N>
void Append(TBytes& bytes, const std::array<uint8_t, N>& part) { bytes.insert(bytes.end(), part.begin(), part.end()); }

}  // namespace orvex::minisign::detail
