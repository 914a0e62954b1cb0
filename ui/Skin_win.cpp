#include "ui/Skin_win.h"

#include <vector>

namespace orvex {

TPixels PixelsOfBitmap(HBITMAP bitmap) {
    BITMAP info{};
    if (!::GetObjectW(bitmap, sizeof info, &info)) return {};
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = -info.bmHeight;  // top row first
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> rows(static_cast<size_t>(info.bmWidth) * info.bmHeight * 4);
    const win32::TWindowDC screen;
    const int copied = ::GetDIBits(screen.Get(), bitmap, 0, info.bmHeight, rows.data(), &header, DIB_RGB_COLORS);
    if (copied != info.bmHeight) return {};
    return PixelsFromRows(rows.data(), info.bmWidth, info.bmHeight, 4, static_cast<size_t>(info.bmWidth) * 4);
}

HRGN RegionByPixelCuts(const TPixels& picture) {
    HRGN region = ::CreateRectRgn(0, 0, picture.Width, picture.Height);
    for (const TRect& r : SkinCutPixels(picture)) {
        const win32::TGdiObject<HRGN> pixel(::CreateRectRgn(r.Left, r.Top, r.Right, r.Bottom));
        ::CombineRgn(region, region, pixel.Get(), RGN_DIFF);
    }
    return region;
}

HRGN RegionFromRuns(const TPixels& picture) {
    const TRectList runs = SkinKeptRuns(picture);
    std::vector<uint8_t> data(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(runs.size());
    header->nRgnSize = static_cast<DWORD>(runs.size() * sizeof(RECT));
    header->rcBound = {0, 0, picture.Width, picture.Height};
    auto* rects = reinterpret_cast<RECT*>(data.data() + sizeof(RGNDATAHEADER));
    for (size_t i = 0; i < runs.size(); ++i) rects[i] = {runs[i].Left, runs[i].Top, runs[i].Right, runs[i].Bottom};
    return ::ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data()));
}

TBrushHandle ApplySkinRegion(HWND window, HBITMAP picture) {
    TBrushHandle brush(::CreatePatternBrush(picture));
    ::SetClassLongPtrW(window, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush.Get()));
    const TPixels pixels = PixelsOfBitmap(picture);
    // An unreadable picture would make an empty region: the window keeps its rectangle instead.
    if (pixels.Width > 0 && pixels.Height > 0) ::SetWindowRgn(window, RegionFromRuns(pixels), TRUE);
    return brush;
}

}  // namespace orvex
