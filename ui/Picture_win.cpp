#include "ui/Picture_win.h"

#include "base/MemoryStream.h"
#include "formats/BZip2.h"
#include "ui/Bitmap.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orvex {

namespace {

// The resource's bytes stay mapped as long as the module: nothing to free.
std::vector<uint8_t> ResourceBytes(HINSTANCE instance, int id) {
    const HRSRC info = ::FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!info) return {};
    const auto* bytes = static_cast<const uint8_t*>(::LockResource(::LoadResource(instance, info)));
    if (!bytes) return {};
    std::vector<uint8_t> copy(::SizeofResource(instance, info));
    if (!copy.empty()) std::memcpy(copy.data(), bytes, copy.size());
    return copy;
}

// A 24-bit DIB section stored bottom-up, as the system makes one from a bitmap resource.
win32::TGdiObject<HBITMAP> DibSection(const TBitmap24& picture) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.Width();
    info.bmiHeader.biHeight = picture.Height();
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    win32::TGdiObject<HBITMAP> bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) return bitmap;
    // Rows are padded to whole 32-bit words.
    const std::size_t stride = (3 * static_cast<std::size_t>(picture.Width()) + 3) & ~std::size_t(3);
    const std::vector<TRgb>& pixels = picture.Pixels();
    for (int y = 0; y < picture.Height(); ++y) {
        auto* row = static_cast<uint8_t*>(bits) + stride * static_cast<std::size_t>(picture.Height() - 1 - y);
        const TRgb* source = pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.Width());
        for (int x = 0; x < picture.Width(); ++x, row += 3) {
            row[0] = source[x].B;
            row[1] = source[x].G;
            row[2] = source[x].R;
        }
    }
    return bitmap;
}

}  // namespace

win32::TGdiObject<HBITMAP> LoadPicture(HINSTANCE instance, int id) {
    std::vector<uint8_t> packed = ResourceBytes(instance, id);
    if (packed.empty()) return {};
    try {
        TMemoryStream source(std::move(packed));
        TBZDecompressionStream file(source);
        return DibSection(TBitmap24::ReadBmp(file, "picture " + std::to_string(id)));
    } catch (const Exception&) {
        return {};
    }
}

}  // namespace orvex
