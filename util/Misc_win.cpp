#include "util/Misc.h"

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
    // The source is a list of names ending with an empty one.
    std::vector<char> source(path.begin(), path.end());
    source.push_back('\0');
    source.push_back('\0');
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = source.data();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    return ::SHFileOperationA(&operation) == 0;
}

}  // namespace orvex::detail
