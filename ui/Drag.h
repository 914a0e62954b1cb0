#pragma once
// Moving a borderless window by its own surface: a press anywhere on it starts the drag, every
// move shifts the window by the pointer's distance from the press point, a release ends it.
#include <cstdint>

namespace orvex {

class TDragModel {
public:
    bool FDragging = false;
    int32_t FDragX = 0;  // the press position, client coordinates
    int32_t FDragY = 0;

    void MouseDown(int32_t X, int32_t Y) {
        FDragging = true;
        FDragX = X;
        FDragY = Y;
    }
    void MouseUp() { FDragging = false; }

    // Moves `window` (Left(), SetLeft(), Top(), SetTop()) in two steps, the left edge first; the
    // top is read again after that move. Positions are not limited. Nothing happens when idle.
    template <class TWindow>
    void MouseMove(TWindow& window, int32_t X, int32_t Y) const {
        if (!FDragging) return;
        window.SetLeft(window.Left() + X - FDragX);
        window.SetTop(window.Top() + Y - FDragY);
    }
};

}  // namespace orvex
