#pragma once
#include <cstdio>

namespace orvex {

// True when the stream is shown on a terminal (progress can then be redrawn in place).
bool IsTerminal(std::FILE* stream);

}  // namespace orvex
