#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orvex {

std::intptr_t TFileStream::OpenHandle(const std::string& fileName, FileMode mode) {
    const int flags = mode == FileMode::OpenRead ? O_RDONLY
                      : mode == FileMode::Append ? O_RDWR
                                                 : O_RDWR | O_CREAT | O_TRUNC;
    return ::open(os::NativePath(fileName).c_str(), flags | O_CLOEXEC, 0666);
}

void TFileStream::CloseHandle() {
    if (FHandle >= 0) ::close(static_cast<int>(FHandle));
    FHandle = -1;
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(FHandle), buffer, count);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) RaiseInOutError(errno, FFileName);
    }
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t put = ::write(static_cast<int>(FHandle), buffer, count);
        if (put >= 0) return static_cast<std::size_t>(put);
        if (errno != EINTR) RaiseInOutError(errno, FFileName);
    }
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    const int whence = origin == SeekOrigin::Beginning ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(static_cast<int>(FHandle), static_cast<off_t>(offset), whence);
    if (position < 0) RaiseInOutError(errno, FFileName);
    return position;
}

}  // namespace orvex
