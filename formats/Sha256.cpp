#include "formats/Sha256.h"

#include <sodium.h>

#include <stdexcept>

namespace orvex {

TSha256::TSha256() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
    crypto_hash_sha256_init(&FState);
}

void TSha256::Update(const void* data, std::size_t size) {
    crypto_hash_sha256_update(&FState, static_cast<const unsigned char*>(data), size);
}

TSha256Digest TSha256::Final() {
    TSha256Digest digest{};
    crypto_hash_sha256_final(&FState, digest.data());
    crypto_hash_sha256_init(&FState);
    return digest;
}

TSha256Digest Sha256(const void* data, std::size_t size) {
    TSha256 hash;
    hash.Update(data, size);
    return hash.Final();
}

std::string Sha256Hex(const void* data, std::size_t size) { return DigestHex(Sha256(data, size)); }

std::string DigestHex(const TSha256Digest& digest) {
    std::string text(digest.size() * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), digest.data(), digest.size());
    text.pop_back();
    return text;
}

std::optional<TSha256Digest> DigestFromHex(std::string_view text) {
    // sodium_hex2bin takes upper case too; the index has one spelling per digest.
    if (text.size() != 64) return std::nullopt;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    TSha256Digest digest{};
    std::size_t decoded = 0;
    if (sodium_hex2bin(digest.data(), digest.size(), text.data(), text.size(), nullptr, &decoded, nullptr) != 0 ||
        decoded != digest.size())
        return std::nullopt;
    return digest;
}

}  // namespace orvex
