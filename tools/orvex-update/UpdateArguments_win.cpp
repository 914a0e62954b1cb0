#include "UpdateArguments.h"

#include <windows.h>

namespace orvex {

bool SlashOptionsTaken() { return true; }

std::string AbsolutePath(const std::string& path) {
    if (path.empty()) return path;
    // Drive-relative and rooted forms, "." and ".." are resolved as Windows resolves them.
    const DWORD length = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::string absolute(length, '\0');
    const DWORD written = ::GetFullPathNameA(path.c_str(), length, absolute.data(), nullptr);
    if (written == 0 || written >= length) return path;
    absolute.resize(written);
    return absolute;
}

}  // namespace orvex
