#include "tools/common/Terminal.h"

#include <io.h>
#include <windows.h>

namespace orvex {

namespace {

HANDLE ConsoleHandle(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

}  // namespace

// A console, not merely a character device: NUL is one too, and cannot show progress.
bool IsTerminal(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(ConsoleHandle(stream), &mode) != 0;
}

int TerminalWidth(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(ConsoleHandle(stream), &info)) return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

}  // namespace orvex
