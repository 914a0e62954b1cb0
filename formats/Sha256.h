#pragma once
// SHA-256 by libsodium: streaming, and as the lower-case hex text the chunk index writes.
#include <sodium/crypto_hash_sha256.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

using TSha256Digest = std::array<uint8_t, 32>;

class TSha256 {
public:
    // Raises std::runtime_error when libsodium cannot start.
    TSha256();

    void Update(const void* data, std::size_t size);
    // The digest of everything given since the start; the object then starts afresh.
    TSha256Digest Final();

private:
    crypto_hash_sha256_state FState;
};

TSha256Digest Sha256(const void* data, std::size_t size);
std::string Sha256Hex(const void* data, std::size_t size);

// 64 lower-case hex digits.
std::string DigestHex(const TSha256Digest& digest);
// Nothing unless the text is exactly 64 lower-case hex digits.
std::optional<TSha256Digest> DigestFromHex(std::string_view text);

}  // namespace orvex
