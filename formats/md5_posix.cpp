#include "formats/md5.h"

#include "base/FileDescriptor_posix.h"
#include "base/Os.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvex {
namespace {

// Reads, not a mapping: a mapped file that another program shortens kills the process (SIGBUS)
// at the first page past the new end, while a read just comes back short.
bool ReadFully(int fd, uint64_t offset, void* buffer, std::size_t length) {
    auto* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t got = ::pread(fd, bytes, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

// pieceSize 0: reads of the default size. A file that ends before its size at the start was read
// gives the digest of empty input, never the digest of part of the file.
MD5Digest detail::DigestFile(const std::string& fileName, uint64_t pieceSize) {
    const FileDescriptor file(::open(os::NativePath(fileName).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!file.Valid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return detail::DigestMapped(0, pieceSize, 1, {});
    ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const auto size = static_cast<uint64_t>(st.st_size);
    const uint64_t piece = pieceSize == 0 ? detail::FileReadPieceSize : pieceSize;
    std::vector<char> buffer;
    return detail::DigestMapped(size, piece, detail::FileReadGranularity,
                                [&](uint64_t offset, uint64_t length, const detail::ConsumeView& consume) {
                                    buffer.resize(static_cast<std::size_t>(length));
                                    if (!ReadFully(file.Get(), offset, buffer.data(), buffer.size())) return false;
                                    consume(buffer.data());
                                    return true;
                                });
}

}  // namespace orvex
