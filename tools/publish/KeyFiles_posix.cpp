#include "tools/publish/KeyFiles.h"

#include "base/Os.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace orvex {

bool CreateOwnerOnlyFile(const std::string& fileName, const std::string& content) {
    // Created with its final mode, so the key is never readable by others, not even for a moment.
    const int fd = ::open(os::NativePath(fileName).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t put = ::write(fd, content.data() + written, content.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        written += static_cast<std::size_t>(put);
    }
    const bool whole = written == content.size() && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!whole) {
        ::unlink(os::NativePath(fileName).c_str());
        errno = saved;
    }
    return whole;
}

}  // namespace orvex
