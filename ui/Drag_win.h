#pragma once
// The drag model moving a real window: its outer rectangle's left and top edges in screen pixels.
#include <windows.h>

#include "ui/Drag.h"

namespace orvex {

class TWindowPosition {
public:
    explicit TWindowPosition(HWND window) : FWindow(window) {}
    int32_t Left() const { return Bounds().left; }
    int32_t Top() const { return Bounds().top; }
    void SetLeft(int32_t left) { MoveTo(left, Top()); }
    void SetTop(int32_t top) { MoveTo(Left(), top); }

private:
    RECT Bounds() const {
        RECT bounds{};
        ::GetWindowRect(FWindow, &bounds);
        return bounds;
    }
    void MoveTo(int32_t left, int32_t top) {
        ::SetWindowPos(FWindow, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    HWND FWindow;
};

}  // namespace orvex
