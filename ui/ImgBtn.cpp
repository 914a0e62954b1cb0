#include "ui/ImgBtn.h"

namespace orvex {

TImgBtn::TImgBtn(int left, int top, int width, int height)
    : FLeft(left), FTop(top), FWidth(width), FHeight(height) {
    SetEnabled(FEnabled);
}

bool TImgBtn::Contains(int windowX, int windowY) const {
    return windowX >= FLeft && windowX < FLeft + FWidth && windowY >= FTop && windowY < FTop + FHeight;
}

void TImgBtn::SetEnabled(bool value) {
    FPicture = value ? TImgBtnPicture::Up : TImgBtnPicture::Disabled;
    FEnabled = value;
}

void TImgBtn::SetVisible(bool value) {
    FVisible = value;
    if (value || !FPressed) return;
    FPressed = false;
    FClickArmed = false;
    if (FEnabled) FPicture = TImgBtnPicture::Up;
}

TCaptureRequest TImgBtn::MouseMove(int x, int y) {
    if (!FEnabled || FPressed) return TCaptureRequest::Keep;
    // Both edges count as over the button: the capture keeps reporting until the pointer is off.
    if (x >= 0 && x <= FWidth && y >= 0 && y <= FHeight) {
        FPicture = TImgBtnPicture::Over;
        return TCaptureRequest::Capture;
    }
    FPicture = TImgBtnPicture::Up;
    return TCaptureRequest::Release;
}

TCaptureRequest TImgBtn::MouseDown(TMouseButton button, int, int, bool doubleClick) {
    if (button != TMouseButton::Left || !FEnabled) return TCaptureRequest::Keep;
    FPicture = TImgBtnPicture::Down;
    FPressed = true;
    FClickArmed = !doubleClick;
    return TCaptureRequest::Capture;
}

TCaptureRequest TImgBtn::MouseUp(TMouseButton button, int x, int y) {
    // Runs also when OnClick throws, so the error box finds the button back in its up state.
    struct Finish {
        TImgBtn& button;
        bool left;
        ~Finish() {
            if (left && button.FEnabled) button.FPicture = TImgBtnPicture::Up;
            button.FPressed = false;
            button.FClickArmed = false;
        }
    };
    const bool left = button == TMouseButton::Left;
    const bool clicks = left && FEnabled && FPressed && FClickArmed && x >= 0 && x < FWidth && y >= 0 && y < FHeight;
    const bool releases = left && FEnabled;
    {
        const Finish finish{*this, releases};
        if (clicks && OnClick) OnClick();
    }
    return releases ? TCaptureRequest::Release : TCaptureRequest::Keep;
}

}  // namespace orvex
