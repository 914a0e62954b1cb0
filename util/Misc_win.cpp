#include "util/Misc.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

namespace orvex::detail {

bool StartProgram(const std::string& path) {
    // Quoted, so a name with blanks is one program rather than a program and its arguments.
    const std::string commandLine = "\"" + path + "\"";
    // WinExec reports success with a value above 31.
    return ::WinExec(commandLine.c_str(), SW_RESTORE) > 31;
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
