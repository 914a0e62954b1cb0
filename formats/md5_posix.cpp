#include "formats/md5.h"

#include "base/FileDescriptor_posix.h"
#include "base/Os.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {
namespace {

class MappedView {
public:
    MappedView(int fd, uint64_t offset, std::size_t length) : FLength(length) {
        // Populating the view up front costs far less than one page fault per 4 KiB read.
        void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, static_cast<off_t>(offset));
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

}  // namespace

// pieceSize 0: one view of the whole file when it fits, pieces of the default size otherwise.
MD5Digest detail::DigestFile(const std::string& fileName, uint64_t pieceSize) {
    const FileDescriptor file(::open(os::NativePath(fileName).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!file.Valid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return detail::DigestMapped(0, pieceSize, 1, {});
    const auto granularity = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const auto size = static_cast<uint64_t>(st.st_size);
    // Views are populated whole, so a file larger than a piece goes in pieces: a populated view
    // of a file larger than memory would be read twice.
    if (pieceSize == 0 && size > detail::FileMD5PieceSize) pieceSize = detail::FileMD5PieceSize;
    return detail::DigestMapped(size, pieceSize, granularity,
                                [&](uint64_t offset, uint64_t length, const detail::ConsumeView& consume) {
                                    const MappedView view(file.Get(), offset, static_cast<std::size_t>(length));
                                    if (!view.Data()) return false;
                                    consume(view.Data());
                                    return true;
                                });
}

}  // namespace orvex
