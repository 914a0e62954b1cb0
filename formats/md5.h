#pragma once
// The MD5 message digest (RFC 1321) and the digest of a whole file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orvex {

struct MD5_CTX {
    uint32_t state[4];
    uint32_t count[2];  // bits fed so far, low word first
    uint8_t buffer[64];
};

using MD5Digest = std::array<uint8_t, 16>;

void MD5Init(MD5_CTX& context);
void MD5Update(MD5_CTX& context, const void* input, uint32_t count);
// Writes the digest and wipes the context.
void MD5Final(MD5_CTX& context, MD5Digest& digest);

// The digest of the file's whole content. Never throws: a file that cannot be opened or read to
// the end (one shortened meanwhile), and an empty file, give the digest of empty input.
MD5Digest FileMD5(const std::string& fileName);

// 32 lowercase hexadecimal digits.
std::string DigestToHex(const MD5Digest& digest);

namespace detail {

// Views of this size digest files that one mapping cannot hold.
inline constexpr uint64_t FileMD5PieceSize = uint64_t{64} << 20;
// Files are read in pieces of this size (a multiple of the granularity); larger ones gain nothing
// once the digest, not the copy, is the slow part.
inline constexpr uint64_t FileReadPieceSize = uint64_t{1} << 20;
// Smaller pieces asked for are rounded up to this.
inline constexpr uint64_t FileReadGranularity = uint64_t{64} << 10;

// Feeds any length to MD5Update, whose count is 32 bits wide.
void MD5UpdateLarge(MD5_CTX& context, const void* input, uint64_t count);

using ConsumeView = std::function<void(const void* data)>;
// Maps length bytes at offset of the file and hands them to consume; false when it cannot.
using MapPiece = std::function<bool(uint64_t offset, uint64_t length, const ConsumeView& consume)>;

// The digest of size bytes reached through mapPiece: one view of everything when pieceSize is 0
// and that view can be made, otherwise views of pieceSize (0: the default) rounded up to
// granularity. A piece that cannot be mapped makes it the digest of empty input, never the
// digest of part of the file.
MD5Digest DigestMapped(uint64_t size, uint64_t pieceSize, uint64_t granularity, const MapPiece& mapPiece);

// The file read in pieces of pieceSize (0: FileReadPieceSize). A file that ends before the size
// it had at the start was read gives the digest of empty input, never the digest of part of it.
MD5Digest DigestFile(const std::string& fileName, uint64_t pieceSize);

// The OS part of DigestFile (md5_posix.cpp, md5_win.cpp): a file opened for reading once from
// start to end, others still free to write it, closed when the object goes. Reads, not a mapping:
// a mapped file that another program shortens faults at the first page past its new end (SIGBUS,
// or an access violation under Wine), while a read just comes back short.
class TDigestedFile {
public:
    explicit TDigestedFile(const std::string& fileName);
    ~TDigestedFile();
    TDigestedFile(const TDigestedFile&) = delete;
    TDigestedFile& operator=(const TDigestedFile&) = delete;

    // The size when it was opened; 0 as well when it is no regular file or cannot be opened.
    uint64_t Size() const { return FSize; }
    // All of length bytes at offset, or false.
    [[nodiscard]] bool ReadAt(uint64_t offset, void* buffer, std::size_t length);

private:
    std::intptr_t FHandle;
    uint64_t FSize = 0;
};

// Digests the file in reads of pieceSize bytes (rounded up to FileReadGranularity) instead of
// the default size.
MD5Digest FileMD5InPieces(const std::string& fileName, uint64_t pieceSize);

}  // namespace detail
}  // namespace orvex
