#include "formats/md5.h"

#include "base/Os.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor() {
        if (FFd >= 0) ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

class MappedView {
public:
    MappedView(int fd, uint64_t offset, std::size_t length) : FLength(length) {
        void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
        if (address == MAP_FAILED) return;
        FAddress = address;
        ::madvise(FAddress, FLength, MADV_SEQUENTIAL);
    }
    ~MappedView() {
        if (FAddress) ::munmap(FAddress, FLength);
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    const void* Data() const { return FAddress; }

private:
    void* FAddress = nullptr;
    std::size_t FLength;
};

// pieceSize 0: one view of the whole file when it fits, pieces of the default size otherwise.
MD5Digest DigestFile(const std::string& fileName, uint64_t pieceSize) {
    MD5_CTX context;
    MD5Init(context);
    MD5Digest digest;

    const FileDescriptor file(::open(os::NativePath(fileName).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        MD5Final(context, digest);
        return digest;
    }
    const auto size = static_cast<uint64_t>(st.st_size);

    if (pieceSize == 0 && size <= SIZE_MAX) {
        const MappedView whole(file.Get(), 0, static_cast<std::size_t>(size));
        if (whole.Data()) {
            detail::MD5UpdateLarge(context, whole.Data(), size);
            MD5Final(context, digest);
            return digest;
        }
    }

    const auto granularity = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    uint64_t piece = pieceSize == 0 ? detail::FileMD5PieceSize : pieceSize;
    piece = (piece + granularity - 1) / granularity * granularity;
    for (uint64_t offset = 0; offset < size; offset += piece) {
        const auto length = static_cast<std::size_t>(size - offset < piece ? size - offset : piece);
        const MappedView view(file.Get(), offset, length);
        if (!view.Data()) {
            // A digest of part of the file would be wrong; report it as unreadable.
            MD5Init(context);
            break;
        }
        detail::MD5UpdateLarge(context, view.Data(), length);
    }
    MD5Final(context, digest);
    return digest;
}

}  // namespace

MD5Digest FileMD5(const std::string& fileName) { return DigestFile(fileName, 0); }

namespace detail {
MD5Digest FileMD5InPieces(const std::string& fileName, uint64_t pieceSize) {
    return DigestFile(fileName, pieceSize == 0 ? 1 : pieceSize);
}
}  // namespace detail
}  // namespace orvex
