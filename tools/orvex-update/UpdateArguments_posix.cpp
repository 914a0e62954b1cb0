#include "UpdateArguments.h"

#include <climits>
#include <unistd.h>

namespace orvex {

bool SlashOptionsTaken() { return false; }

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char current[PATH_MAX];
    if (!::getcwd(current, sizeof current)) return path;
    std::string absolute = current;
    if (absolute.back() != '/') absolute += '/';
    return absolute + path;
}

}  // namespace orvex
