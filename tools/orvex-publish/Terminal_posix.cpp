#include "Terminal.h"

#include <unistd.h>

namespace orvex {

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

}  // namespace orvex
