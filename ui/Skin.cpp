#include "ui/Skin.h"

#include "base/Exceptions.h"
#include "ui/Bitmap.h"

namespace orvex {

TPixels PixelsFromRows(const uint8_t* rows, int32_t width, int32_t height, int bytesPerPixel, size_t stride) {
    if (width < 0 || height < 0 || (bytesPerPixel != 3 && bytesPerPixel != 4))
        throw EInvalidOperation("unsupported picture layout");
    TPixels picture{width, height, {}};
    picture.Values.reserve(static_cast<size_t>(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = rows + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width; ++x, p += bytesPerPixel) {
            uint32_t value = p[0] | (p[1] << 8) | (p[2] << 16);
            if (bytesPerPixel == 4) value |= static_cast<uint32_t>(p[3]) << 24;
            picture.Values.push_back(value);
        }
    }
    return picture;
}

TPixels PixelsOf(const TBitmap24& bitmap) {
    TPixels picture{bitmap.Width(), bitmap.Height(), {}};
    picture.Values.reserve(bitmap.Pixels().size());
    for (const TRgb& p : bitmap.Pixels())
        picture.Values.push_back(p.B | (p.G << 8) | (static_cast<uint32_t>(p.R) << 16));
    return picture;
}

uint32_t SkinKeyColor(const TPixels& picture) { return picture.At(0, 0) & ColorMask; }

TRectList SkinCutPixels(const TPixels& picture) {
    TRectList cut;
    if (picture.Width <= 0 || picture.Height <= 0) return cut;
    const uint32_t key = SkinKeyColor(picture);
    for (int32_t x = 0; x < picture.Width; ++x)
        for (int32_t y = 0; y < picture.Height; ++y)
            if ((picture.At(x, y) & ColorMask) == key) cut.push_back({x, y, x + 1, y + 1});
    return cut;
}

TRectList SkinKeptRuns(const TPixels& picture) {
    TRectList runs;
    if (picture.Width <= 0 || picture.Height <= 0) return runs;
    const uint32_t key = SkinKeyColor(picture);
    for (int32_t y = 0; y < picture.Height; ++y) {
        int32_t x = 0;
        while (x < picture.Width) {
            while (x < picture.Width && (picture.At(x, y) & ColorMask) == key) ++x;
            const int32_t start = x;
            while (x < picture.Width && (picture.At(x, y) & ColorMask) != key) ++x;
            if (x > start) runs.push_back({start, y, x, y + 1});
        }
    }
    return runs;
}

std::vector<bool> RectsToMask(const TRectList& rects, int32_t width, int32_t height) {
    std::vector<bool> mask(static_cast<size_t>(width) * height, false);
    for (const TRect& r : rects)
        for (int32_t y = std::max(r.Top, 0); y < std::min(r.Bottom, height); ++y)
            for (int32_t x = std::max(r.Left, 0); x < std::min(r.Right, width); ++x)
                mask[static_cast<size_t>(y) * width + x] = true;
    return mask;
}

}  // namespace orvex
