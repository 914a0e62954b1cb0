#pragma once
// The program's two message boxes, titled with its name.
#include "ui/MessageBoxes.h"

#include <windows.h>

#include <string>

namespace orvex {

// An error that escaped a handler, with the error icon; `message` is shown through ErrorBoxText.
void ShowErrorBox(HWND owner, const std::string& message);

// A note with one OK button and no icon.
void ShowNotice(HWND owner, const std::string& text);

}  // namespace orvex
