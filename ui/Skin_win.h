#pragma once
// The skin of a borderless window on Windows: background brush and window region from its picture.
#include <windows.h>

#include "base/Win32_win.h"
#include "ui/Skin.h"

namespace orvex {

// The bitmap's pixels, read once through a 32-bit top-down copy.
TPixels PixelsOfBitmap(HBITMAP bitmap);

// The picture's rectangle less each key-coloured pixel, subtracted one at a time.
HRGN RegionByPixelCuts(const TPixels& picture);

// The same pixel set built in one call from the horizontal runs of the pixels that stay.
HRGN RegionFromRuns(const TPixels& picture);

using TBrushHandle = win32::TGdiObject<HBRUSH>;

// Sets the window's background brush to the picture and its region to the picture less the key
// colour, redrawing it. The region then belongs to the window; the brush is the caller's, to keep
// until the window is gone.
TBrushHandle ApplySkinRegion(HWND window, HBITMAP picture);

}  // namespace orvex
