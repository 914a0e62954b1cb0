#include "Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace orvex {

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }

int TerminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace orvex
