#include "ui/MessageBoxes_win.h"

namespace orvex {

void ShowErrorBox(HWND owner, const std::string& message) {
    ::MessageBoxA(owner, ErrorBoxText(message).c_str(), SApplicationTitle, MB_OK | MB_ICONERROR);
}

void ShowNotice(HWND owner, const std::string& text) { ::MessageBoxA(owner, text.c_str(), SApplicationTitle, MB_OK); }

}  // namespace orvex
