#pragma once
// Paints a picture button: its four pictures from the program's resources.
#include "base/Win32_win.h"
#include "ui/ImgBtn.h"

#include <windows.h>

namespace orvex {

class TImgBtnPictures {
public:
    // Loads baseId + IDB_STATE_NORMAL ... IDB_STATE_DISABLED; a missing picture stays empty, but for
    // the disabled one, which is then the pressed one.
    TImgBtnPictures(HINSTANCE instance, int baseId);
    TImgBtnPictures(const TImgBtnPictures&) = delete;
    TImgBtnPictures& operator=(const TImgBtnPictures&) = delete;

    HBITMAP Bitmap(TImgBtnPicture picture) const { return FBitmaps[Index(picture)].Get(); }
    // The colour left out: the picture's bottom-left pixel.
    COLORREF TransparentColor(TImgBtnPicture picture) const { return FKeys[Index(picture)]; }

private:
    static int Index(TImgBtnPicture picture) { return static_cast<int>(picture); }
    win32::TGdiObject<HBITMAP> FBitmaps[4];
    COLORREF FKeys[4] = {};
};

// Draws the picture the button shows at its place, scaled to fit with its proportions kept
// (a picture of the button's size is drawn as it is). Without a picture: a plain fill per state.
void PaintImgBtn(HDC dc, const TImgBtn& button, const TImgBtnPictures& pictures);

}  // namespace orvex
