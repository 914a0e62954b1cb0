#pragma once
// The program's title and the text rules of its message boxes, shared by all its windows.
#include <string>

namespace orvex {

// The caption of every message box and of the taskbar entry.
inline constexpr const char* SApplicationTitle = "OrvexUpdater";

// The text of the error box: a full stop appended when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

}  // namespace orvex
