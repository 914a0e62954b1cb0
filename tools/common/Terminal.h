#pragma once
// The terminal a tool writes to.
#include <cstdio>

namespace orvex {

// True when the stream is shown on a terminal (progress can then be redrawn in place).
bool IsTerminal(std::FILE* stream);
// Columns of the terminal showing the stream, or 80 when unknown.
int TerminalWidth(std::FILE* stream);

}  // namespace orvex
