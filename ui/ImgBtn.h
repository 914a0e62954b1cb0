#pragma once
// The picture button: which of its four pictures shows, when it captures the pointer and when it
// clicks. Window-less; the window routes the pointer to it and paints the picture it names.
#include <functional>

namespace orvex {

enum class TImgBtnPicture { Up, Over, Down, Disabled };
enum class TMouseButton { Left, Right, Middle };
// What the button asks of the pointer after an event.
enum class TCaptureRequest { Keep, Capture, Release };

class TImgBtn {
public:
    // Made at run time a button is disabled until Enabled is set.
    TImgBtn(int left, int top, int width, int height);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Contains(int windowX, int windowY) const;

    TImgBtnPicture Picture() const { return FPicture; }
    bool Enabled() const { return FEnabled; }
    bool Pressed() const { return FPressed; }
    bool Visible() const { return FVisible; }

    // Shows the up picture when enabled, the disabled one otherwise, also when nothing changes.
    void SetEnabled(bool value);
    // A hidden button forgets a press it was holding.
    void SetVisible(bool value);

    // X and Y are in the button's own coordinates.
    TCaptureRequest MouseMove(int x, int y);
    // The second press of a double click shows the down picture but its release clicks no more.
    TCaptureRequest MouseDown(TMouseButton button, int x, int y, bool doubleClick = false);
    // OnClick runs while the down picture still shows; the up picture follows when it returns.
    TCaptureRequest MouseUp(TMouseButton button, int x, int y);

    std::function<void()> OnClick;

private:
    int FLeft, FTop, FWidth, FHeight;
    TImgBtnPicture FPicture = TImgBtnPicture::Up;
    bool FEnabled = false;
    bool FPressed = false;
    bool FClickArmed = false;
    bool FVisible = true;
};

}  // namespace orvex
