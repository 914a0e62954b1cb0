#include "util/Misc.h"

#include "base/Os.h"

#include <cerrno>
#include <filesystem>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex::detail {

void StartProgram(const std::string& path) {
    // Everything the child needs is prepared before fork: after it only exec and _exit are safe.
    std::string program = os::NativePath(path);
    char* argv[] = {program.data(), nullptr};
    const pid_t child = ::fork();
    if (child < 0) return;
    if (child == 0) {
        // The grandchild is adopted by init, so nobody has to reap it.
        ::setsid();
        if (::fork() == 0) {
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

bool DeleteFolderTree(const std::string& path) { return os::RemoveTree(path); }

}  // namespace orvex::detail
