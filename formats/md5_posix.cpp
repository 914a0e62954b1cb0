#include "formats/md5.h"

#include "base/Os.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex::detail {

TDigestedFile::TDigestedFile(const std::string& fileName)
    : FHandle(::open(os::NativePath(fileName).c_str(), O_RDONLY | O_CLOEXEC)) {
    const int fd = static_cast<int>(FHandle);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    FSize = static_cast<uint64_t>(st.st_size);
}

TDigestedFile::~TDigestedFile() {
    if (FHandle >= 0) ::close(static_cast<int>(FHandle));
}

bool TDigestedFile::ReadAt(uint64_t offset, void* buffer, std::size_t length) {
    auto* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t got = ::pread(static_cast<int>(FHandle), bytes, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace orvex::detail
