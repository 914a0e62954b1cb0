#include "ui/Picture_win.h"

#include "base/MemoryStream.h"
#include "formats/BZip2.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
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

std::vector<uint8_t> Unpacked(std::vector<uint8_t> packed) {
    TMemoryStream source(std::move(packed));
    TBZDecompressionStream decoder(source);
    std::vector<uint8_t> result;
    std::size_t size = 0;
    for (;;) {
        result.resize(size + 65536);
        const std::size_t count = decoder.Read(result.data() + size, 65536);
        size += count;
        if (count == 0) break;
    }
    result.resize(size);
    return result;
}

win32::TGdiObject<HBITMAP> DibSectionOfBmpFile(const std::vector<uint8_t>& file) {
    BITMAPFILEHEADER fileHeader{};
    BITMAPINFO info{};
    if (file.size() < sizeof fileHeader + sizeof info.bmiHeader) return {};
    std::memcpy(&fileHeader, file.data(), sizeof fileHeader);
    std::memcpy(&info.bmiHeader, file.data() + sizeof fileHeader, sizeof info.bmiHeader);
    const BITMAPINFOHEADER& header = info.bmiHeader;
    if (fileHeader.bfType != 0x4D42 || header.biSize < sizeof header || header.biCompression != BI_RGB ||
        (header.biBitCount != 24 && header.biBitCount != 32) || header.biWidth <= 0 || header.biHeight == 0)
        return {};
    // Rows are padded to whole 32-bit words.
    const uint64_t rowBytes = (static_cast<uint64_t>(header.biWidth) * header.biBitCount + 31) / 32 * 4;
    const uint64_t imageBytes = rowBytes * static_cast<uint64_t>(std::llabs(header.biHeight));
    if (fileHeader.bfOffBits > file.size() || imageBytes > file.size() - fileHeader.bfOffBits) return {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    void* bits = nullptr;
    win32::TGdiObject<HBITMAP> bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap) std::memcpy(bits, file.data() + fileHeader.bfOffBits, static_cast<std::size_t>(imageBytes));
    return bitmap;
}

}  // namespace

win32::TGdiObject<HBITMAP> LoadPicture(HINSTANCE instance, int id) {
    std::vector<uint8_t> packed = ResourceBytes(instance, id);
    if (packed.empty()) return {};
    try {
        return DibSectionOfBmpFile(Unpacked(std::move(packed)));
    } catch (const EBZip2Error&) {
        return {};
    }
}

}  // namespace orvex
