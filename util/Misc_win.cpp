#include "util/Misc.h"

#include <windows.h>

namespace orvex::detail {

bool StartProgram(const std::string& path) {
    // Quoted, so a name with blanks is one program rather than a program and its arguments.
    const std::string commandLine = Quoted(path);
    // WinExec reports success with a value above 31.
    return ::WinExec(commandLine.c_str(), SW_RESTORE) > 31;
}

}  // namespace orvex::detail
