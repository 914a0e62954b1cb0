#include "ui/Bitmap.h"

#include "base/Stream.h"

namespace orvex {

namespace {

constexpr std::size_t FileHeaderSize = 14;
constexpr std::size_t InfoHeaderSize = 40;
// Far beyond any window picture; keeps a damaged header from asking for gigabytes.
constexpr int32_t MaxSide = 16384;

uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

TBitmap24::TBitmap24(int width, int height)
    : FWidth(width), FHeight(height),
      FPixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {}

std::size_t TBitmap24::Index(int x, int y) const {
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        throw EListError(Format("Pixel (%d, %d) outside a picture of %d x %d", x, y, FWidth, FHeight));
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(x);
}

TBitmap24 TBitmap24::LoadBmpFile(const std::string& fileName) {
    TFileStream file(fileName, FileMode::OpenRead);
    return ReadBmp(file, fileName);
}

TBitmap24 TBitmap24::ReadBmp(TStream& file, const std::string& fileName) {
    uint8_t header[FileHeaderSize + InfoHeaderSize];
    file.ReadBuffer(header, sizeof header);
    const uint8_t* info = header + FileHeaderSize;
    const auto refuse = [&](const char* why) {
        return EInvalidGraphic(Format("%s: %s", fileName.c_str(), why));
    };
    if (header[0] != 'B' || header[1] != 'M') throw refuse("not a bitmap file");
    if (U32(info) < InfoHeaderSize) throw refuse("unsupported bitmap header");
    const auto width = static_cast<int32_t>(U32(info + 4));
    const auto storedHeight = static_cast<int32_t>(U32(info + 8));
    const uint16_t bits = U16(info + 14);
    if (U16(info + 12) != 1 || (bits != 24 && bits != 32) || U32(info + 16) != 0)
        throw refuse("only uncompressed 24- and 32-bit bitmaps are read");
    // A negative height stores the rows from the top down.
    const bool topDown = storedHeight < 0;
    const int64_t rows = topDown ? -int64_t(storedHeight) : int64_t(storedHeight);
    if (width <= 0 || rows <= 0 || width > MaxSide || rows > MaxSide) throw refuse("bad picture size");
    const auto height = static_cast<int32_t>(rows);

    TBitmap24 picture(width, height);
    const std::size_t bytesPerPixel = bits / 8;
    const std::size_t stride = (bytesPerPixel * static_cast<std::size_t>(width) + 3) & ~std::size_t(3);
    std::vector<uint8_t> row(stride);
    // Forward only, so that a decoding stream can be read too.
    const int64_t gap = int64_t(U32(header + 10)) - int64_t(sizeof header);
    if (gap < 0) throw refuse("pixels inside the header");
    if (gap > 0) file.Seek(gap, SeekOrigin::Current);
    for (int32_t i = 0; i < height; ++i) {
        file.ReadBuffer(row.data(), stride);
        const int32_t y = topDown ? i : height - 1 - i;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = row.data() + bytesPerPixel * static_cast<std::size_t>(x);
            picture.SetPixel(x, y, TRgb{p[2], p[1], p[0]});
        }
    }
    return picture;
}

}  // namespace orvex
