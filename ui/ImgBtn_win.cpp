#include "ui/ImgBtn_win.h"
#include "ui/Picture_win.h"

#include "assets/Resources.h"

#include <algorithm>
#include <cstdint>

namespace orvex {

namespace {

// A bitmap selected into a fresh memory DC for the life of the object.
struct TBitmapDC {
    TBitmapDC(HDC like, HBITMAP bitmap) : DC(like), Selected(DC.Get(), bitmap) {}
    HDC Get() const { return DC.Get(); }
    win32::TMemoryDC DC;
    win32::TSelectObject Selected;
};

COLORREF PlainColor(TImgBtnPicture picture) {
    switch (picture) {
        case TImgBtnPicture::Over: return RGB(96, 124, 164);
        case TImgBtnPicture::Down: return RGB(40, 54, 78);
        case TImgBtnPicture::Disabled: return RGB(40, 54, 78);
        case TImgBtnPicture::Up: break;
    }
    return RGB(66, 88, 122);
}

}  // namespace

TImgBtnPictures::TImgBtnPictures(HINSTANCE instance, int baseId) {
    const int states[] = {IDB_STATE_NORMAL, IDB_STATE_HOVER, IDB_STATE_PRESSED, IDB_STATE_DISABLED};
    for (int i = 0; i < 4; ++i) {
        FBitmaps[i] = LoadPicture(instance, baseId + states[i]);
        // A skin without a disabled picture of its own shows the pressed one: a disabled button looks pressed.
        if (!FBitmaps[i] && states[i] == IDB_STATE_DISABLED) FBitmaps[i] = LoadPicture(instance, baseId + IDB_STATE_PRESSED);
        if (!FBitmaps[i]) continue;
        BITMAP info{};
        ::GetObjectW(FBitmaps[i].Get(), sizeof(info), &info);
        const TBitmapDC source(nullptr, FBitmaps[i].Get());
        FKeys[i] = ::GetPixel(source.Get(), 0, info.bmHeight - 1);
    }
}

void PaintImgBtn(HDC dc, const TImgBtn& button, const TImgBtnPictures& pictures) {
    if (!button.Visible()) return;
    const TImgBtnPicture picture = button.Picture();
    const HBITMAP bitmap = pictures.Bitmap(picture);
    if (!bitmap) {
        const RECT area{button.Left(), button.Top(), button.Left() + button.Width(), button.Top() + button.Height()};
        const win32::TGdiObject<HBRUSH> brush(::CreateSolidBrush(PlainColor(picture)));
        ::FillRect(dc, &area, brush.Get());
        return;
    }
    BITMAP info{};
    ::GetObjectW(bitmap, sizeof(info), &info);
    if (info.bmWidth <= 0 || info.bmHeight <= 0) return;
    int width = button.Width();
    int height = button.Height();
    if (info.bmWidth != width || info.bmHeight != height) {
        // Fit inside the button with the picture's proportions.
        if (static_cast<int64_t>(info.bmWidth) * height > static_cast<int64_t>(info.bmHeight) * width)
            height = std::max(1, static_cast<int>(static_cast<int64_t>(info.bmHeight) * width / info.bmWidth));
        else
            width = std::max(1, static_cast<int>(static_cast<int64_t>(info.bmWidth) * height / info.bmHeight));
    }
    const TBitmapDC source(dc, bitmap);
    ::TransparentBlt(dc, button.Left(), button.Top(), width, height, source.Get(), 0, 0, info.bmWidth, info.bmHeight,
                     pictures.TransparentColor(picture));
}

}  // namespace orvex
