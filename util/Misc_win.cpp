#include "util/Misc.h"

#include "base/Os.h"

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
    // Not SHFileOperation: it deletes what a link inside the folder points to.
    return os::RemoveTree(path);
}

}  // namespace orvex::detail
