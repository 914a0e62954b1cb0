#include "util/Misc.h"

#include "base/Os.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex::detail {

namespace {

// Closes a descriptor of StartProgram's pipe on every way out.
class TPipeEnd {
public:
    explicit TPipeEnd(int fd) : FFd(fd) {}
    ~TPipeEnd() { Close(); }
    TPipeEnd(const TPipeEnd&) = delete;
    TPipeEnd& operator=(const TPipeEnd&) = delete;
    int Get() const { return FFd; }
    void Close() {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
    }

private:
    int FFd;
};

}  // namespace

bool StartProgram(const std::string& path) {
    // Everything the child needs is prepared before fork: after it only exec, write and _exit are
    // safe. The pipe closes on a successful exec; a failing one writes its errno into it.
    std::string program = os::NativePath(path);
    char* argv[] = {program.data(), nullptr};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    TPipeEnd readEnd(fds[0]), writeEnd(fds[1]);
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        // The grandchild is adopted by init, so nobody has to reap it.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild > 0) ::_exit(0);
        if (grandchild == 0) ::execv(argv[0], argv);
        // The fork or the exec failed.
        const int error = errno;
        static_cast<void>(::write(writeEnd.Get(), &error, sizeof error));  // the parent reads failure either way
        ::_exit(127);
    }
    writeEnd.Close();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(readEnd.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    return got == 0;
}

}  // namespace orvex::detail
