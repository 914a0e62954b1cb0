#include "update/Hosts.h"

#include <windows.h>

namespace orvex {

std::string DefaultHostsFolder() {
    char buffer[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0) return std::string();
    std::string windows(buffer, length < MAX_PATH ? length : 0);
    if (length >= MAX_PATH) {
        // Too long for the buffer: length is the size it needs.
        windows.resize(length);
        const UINT got = ::GetWindowsDirectoryA(windows.data(), length);
        if (got == 0 || got >= length) return std::string();
        windows.resize(got);
    }
    return windows + "\\system32\\drivers\\etc";
}

}  // namespace orvex
