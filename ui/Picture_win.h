#pragma once
// The window pictures embedded in the program (assets/OrvexUpdater.rc.in): each an RCDATA resource
// holding one bzip2 stream of an uncompressed 24- or 32-bit BMP file, read by ui/Bitmap.
#include "base/Win32_win.h"

#include <windows.h>

namespace orvex {

// The picture as a DIB section; an empty owner when the resource is missing or does not hold such a
// picture.
win32::TGdiObject<HBITMAP> LoadPicture(HINSTANCE instance, int id);

}  // namespace orvex
