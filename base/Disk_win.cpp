#include "base/Disk.h"

#include <windows.h>

namespace orvex::os {

std::optional<uint64_t> FreeSpace(const std::string& path) {
    std::string at = path;
    for (;;) {
        ULARGE_INTEGER available{};
        if (::GetDiskFreeSpaceExA(at.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
        // A file still to be made: its folder is on the same volume.
        if (!at.empty() && (at.back() == '\\' || at.back() == '/')) at.pop_back();
        const auto delim = at.find_last_of("\\/");
        if (delim == std::string::npos) return std::nullopt;
        at.resize(delim + 1);  // "C:\" names the drive's root, "C:" its current folder
    }
}

}  // namespace orvex::os
