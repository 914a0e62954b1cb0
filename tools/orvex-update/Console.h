#pragma once
// The terminal the tool writes to.
namespace orvex {

bool StdoutIsTerminal();
// Columns of the terminal, or 80 when unknown.
int TerminalWidth();

}  // namespace orvex
