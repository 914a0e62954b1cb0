#pragma once
// An owned POSIX file descriptor, closed on every way out.
#include <unistd.h>

namespace orvex {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor() {
        if (FFd >= 0) ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return FFd; }
    [[nodiscard]] bool Valid() const { return FFd >= 0; }
    // Closes now, reporting whether the data made it out.
    [[nodiscard]] bool Close() {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

}  // namespace orvex
