#include "base/Disk.h"

#include "base/Os.h"

#include <sys/statvfs.h>

namespace orvex::os {

std::optional<uint64_t> FreeSpace(const std::string& path) {
    std::string at = NativePath(path);
    for (;;) {
        struct statvfs volume {};
        if (::statvfs(at.c_str(), &volume) == 0)
            return static_cast<uint64_t>(volume.f_bavail) * static_cast<uint64_t>(volume.f_frsize);
        // A file still to be made: its folder is on the same volume.
        if (!at.empty() && at.back() == '/') at.pop_back();
        const auto slash = at.find_last_of('/');
        if (slash == std::string::npos) return std::nullopt;
        at.resize(slash + 1);
    }
}

}  // namespace orvex::os
