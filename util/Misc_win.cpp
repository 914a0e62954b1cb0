#include "util/Misc.h"

#include "base/Os.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

namespace orvex::detail {

void StartProgram(const std::string& path) {
    // WinExec wants a writable command line; its result is deliberately not looked at.
    std::vector<char> commandLine(path.begin(), path.end());
    commandLine.push_back('\0');
    ::WinExec(commandLine.data(), SW_RESTORE);
}

bool DeleteFolderTree(const std::string& path) {
    // Not SHFileOperation: it deletes what a link inside the folder points to.
    return os::RemoveTree(path);
}

}  // namespace orvex::detail
