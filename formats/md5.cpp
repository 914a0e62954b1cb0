#include "formats/md5.h"

#include <bit>
#include <cstring>
#include <vector>

namespace orvex {
namespace {

uint32_t LoadLE32(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t value;
        std::memcpy(&value, p, sizeof value);
        return value;
    } else {
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
}

void StoreLE32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// The four steps; each adds the word and constant before the auxiliary function so the sum that
// does not depend on the previous step's result can be formed early.
template <int S>
inline void StepF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += d ^ (b & (c ^ d));
    a = std::rotl(a, S) + b;
}

template <int S>
inline void StepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    // (b & d) and (c & ~d) share no bits, so their sum is their union.
    a += x + t;
    a += c & ~d;
    a += b & d;
    a = std::rotl(a, S) + b;
}

template <int S>
inline void StepH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += b ^ c ^ d;
    a = std::rotl(a, S) + b;
}

template <int S>
inline void StepI(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += c ^ (b | ~d);
    a = std::rotl(a, S) + b;
}

// Digests whole 64-byte blocks in place, keeping the chaining words in registers between blocks.
void ProcessBlocks(uint32_t state[4], const uint8_t* data, std::size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks != 0; --blocks, data += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = LoadLE32(data + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        StepF<7>(a, b, c, d, x[0], 0xd76aa478);
        StepF<12>(d, a, b, c, x[1], 0xe8c7b756);
        StepF<17>(c, d, a, b, x[2], 0x242070db);
        StepF<22>(b, c, d, a, x[3], 0xc1bdceee);
        StepF<7>(a, b, c, d, x[4], 0xf57c0faf);
        StepF<12>(d, a, b, c, x[5], 0x4787c62a);
        StepF<17>(c, d, a, b, x[6], 0xa8304613);
        StepF<22>(b, c, d, a, x[7], 0xfd469501);
        StepF<7>(a, b, c, d, x[8], 0x698098d8);
        StepF<12>(d, a, b, c, x[9], 0x8b44f7af);
        StepF<17>(c, d, a, b, x[10], 0xffff5bb1);
        StepF<22>(b, c, d, a, x[11], 0x895cd7be);
        StepF<7>(a, b, c, d, x[12], 0x6b901122);
        StepF<12>(d, a, b, c, x[13], 0xfd987193);
        StepF<17>(c, d, a, b, x[14], 0xa679438e);
        StepF<22>(b, c, d, a, x[15], 0x49b40821);

        StepG<5>(a, b, c, d, x[1], 0xf61e2562);
        StepG<9>(d, a, b, c, x[6], 0xc040b340);
        StepG<14>(c, d, a, b, x[11], 0x265e5a51);
        StepG<20>(b, c, d, a, x[0], 0xe9b6c7aa);
        StepG<5>(a, b, c, d, x[5], 0xd62f105d);
        StepG<9>(d, a, b, c, x[10], 0x02441453);
        StepG<14>(c, d, a, b, x[15], 0xd8a1e681);
        StepG<20>(b, c, d, a, x[4], 0xe7d3fbc8);
        StepG<5>(a, b, c, d, x[9], 0x21e1cde6);
        StepG<9>(d, a, b, c, x[14], 0xc33707d6);
        StepG<14>(c, d, a, b, x[3], 0xf4d50d87);
        StepG<20>(b, c, d, a, x[8], 0x455a14ed);
        StepG<5>(a, b, c, d, x[13], 0xa9e3e905);
        StepG<9>(d, a, b, c, x[2], 0xfcefa3f8);
        StepG<14>(c, d, a, b, x[7], 0x676f02d9);
        StepG<20>(b, c, d, a, x[12], 0x8d2a4c8a);

        StepH<4>(a, b, c, d, x[5], 0xfffa3942);
        StepH<11>(d, a, b, c, x[8], 0x8771f681);
        StepH<16>(c, d, a, b, x[11], 0x6d9d6122);
        StepH<23>(b, c, d, a, x[14], 0xfde5380c);
        StepH<4>(a, b, c, d, x[1], 0xa4beea44);
        StepH<11>(d, a, b, c, x[4], 0x4bdecfa9);
        StepH<16>(c, d, a, b, x[7], 0xf6bb4b60);
        StepH<23>(b, c, d, a, x[10], 0xbebfbc70);
        StepH<4>(a, b, c, d, x[13], 0x289b7ec6);
        StepH<11>(d, a, b, c, x[0], 0xeaa127fa);
        StepH<16>(c, d, a, b, x[3], 0xd4ef3085);
        StepH<23>(b, c, d, a, x[6], 0x04881d05);
        StepH<4>(a, b, c, d, x[9], 0xd9d4d039);
        StepH<11>(d, a, b, c, x[12], 0xe6db99e5);
        StepH<16>(c, d, a, b, x[15], 0x1fa27cf8);
        StepH<23>(b, c, d, a, x[2], 0xc4ac5665);

        StepI<6>(a, b, c, d, x[0], 0xf4292244);
        StepI<10>(d, a, b, c, x[7], 0x432aff97);
        StepI<15>(c, d, a, b, x[14], 0xab9423a7);
        StepI<21>(b, c, d, a, x[5], 0xfc93a039);
        StepI<6>(a, b, c, d, x[12], 0x655b59c3);
        StepI<10>(d, a, b, c, x[3], 0x8f0ccc92);
        StepI<15>(c, d, a, b, x[10], 0xffeff47d);
        StepI<21>(b, c, d, a, x[1], 0x85845dd1);
        StepI<6>(a, b, c, d, x[8], 0x6fa87e4f);
        StepI<10>(d, a, b, c, x[15], 0xfe2ce6e0);
        StepI<15>(c, d, a, b, x[6], 0xa3014314);
        StepI<21>(b, c, d, a, x[13], 0x4e0811a1);
        StepI<6>(a, b, c, d, x[4], 0xf7537e82);
        StepI<10>(d, a, b, c, x[11], 0xbd3af235);
        StepI<15>(c, d, a, b, x[2], 0x2ad7d2bb);
        StepI<21>(b, c, d, a, x[9], 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

}  // namespace

void MD5Init(MD5_CTX& context) {
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    context.count[0] = context.count[1] = 0;
}

void MD5Update(MD5_CTX& context, const void* input, uint32_t count) {
    if (count == 0) return;
    const auto* bytes = static_cast<const uint8_t*>(input);
    const uint32_t used = (context.count[0] >> 3) & 63;

    const uint32_t bitsLow = count << 3;
    context.count[0] += bitsLow;
    if (context.count[0] < bitsLow) ++context.count[1];
    context.count[1] += count >> 29;

    if (used != 0) {
        const uint32_t room = 64 - used;
        if (count < room) {
            std::memcpy(context.buffer + used, bytes, count);
            return;
        }
        std::memcpy(context.buffer + used, bytes, room);
        ProcessBlocks(context.state, context.buffer, 1);
        bytes += room;
        count -= room;
    }
    ProcessBlocks(context.state, bytes, count / 64);
    bytes += count & ~uint32_t{63};
    count &= 63;
    if (count != 0) std::memcpy(context.buffer, bytes, count);
}

void MD5Final(MD5_CTX& context, MD5Digest& digest) {
    uint8_t bits[8];
    StoreLE32(bits, context.count[0]);
    StoreLE32(bits + 4, context.count[1]);

    static constexpr uint8_t Padding[64] = {0x80};
    const uint32_t used = (context.count[0] >> 3) & 63;
    MD5Update(context, Padding, used < 56 ? 56 - used : 120 - used);
    MD5Update(context, bits, sizeof bits);

    for (int i = 0; i < 4; ++i) StoreLE32(digest.data() + 4 * i, context.state[i]);
    std::memset(&context, 0, sizeof context);
}

std::string DigestToHex(const MD5Digest& digest) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (const uint8_t byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

namespace detail {

void MD5UpdateLarge(MD5_CTX& context, const void* input, uint64_t count) {
    constexpr uint32_t Chunk = uint32_t{1} << 30;
    const auto* bytes = static_cast<const uint8_t*>(input);
    while (count > Chunk) {
        MD5Update(context, bytes, Chunk);
        bytes += Chunk;
        count -= Chunk;
    }
    MD5Update(context, bytes, static_cast<uint32_t>(count));
}

MD5Digest DigestMapped(uint64_t size, uint64_t pieceSize, uint64_t granularity, const MapPiece& mapPiece) {
    MD5_CTX context;
    MD5Init(context);
    bool done = size == 0;
    if (!done && pieceSize == 0 && size <= SIZE_MAX)
        done = mapPiece(0, size, [&](const void* data) { MD5UpdateLarge(context, data, size); });
    if (!done) {
        uint64_t piece = pieceSize == 0 ? FileMD5PieceSize : pieceSize;
        piece = (piece + granularity - 1) / granularity * granularity;
        for (uint64_t offset = 0; offset < size; offset += piece) {
            const uint64_t length = size - offset < piece ? size - offset : piece;
            if (!mapPiece(offset, length, [&](const void* data) { MD5UpdateLarge(context, data, length); })) {
                MD5Init(context);
                break;
            }
        }
    }
    MD5Digest digest;
    MD5Final(context, digest);
    return digest;
}

MD5Digest DigestFile(const std::string& fileName, uint64_t pieceSize) {
    TDigestedFile file(fileName);
    std::vector<char> buffer;
    return DigestMapped(file.Size(), pieceSize == 0 ? FileReadPieceSize : pieceSize, FileReadGranularity,
                        [&](uint64_t offset, uint64_t length, const ConsumeView& consume) {
                            buffer.resize(static_cast<std::size_t>(length));
                            if (!file.ReadAt(offset, buffer.data(), buffer.size())) return false;
                            consume(buffer.data());
                            return true;
                        });
}

MD5Digest FileMD5InPieces(const std::string& fileName, uint64_t pieceSize) {
    return DigestFile(fileName, pieceSize == 0 ? 1 : pieceSize);
}

}  // namespace detail

MD5Digest FileMD5(const std::string& fileName) { return detail::DigestFile(fileName, 0); }

}  // namespace orvex
