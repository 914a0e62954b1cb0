#pragma once
// A picture as plain red-green-blue pixels, read from a Windows BMP file; the skin and the tests
// look at pictures pixel by pixel without a drawing surface.
#include "base/Exceptions.h"
#include "base/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// A file that is not an uncompressed 24- or 32-bit bitmap.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

struct TRgb {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TRgb&) const = default;
};

class TBitmap24 {
public:
    TBitmap24() = default;
    TBitmap24(int width, int height);  // black

    // Reads an uncompressed bitmap of 24 or 32 bits per pixel, rows stored either way up. The fourth
    // byte of a 32-bit pixel carries no colour and is dropped. Raises EInvalidGraphic for any other
    // file and the stream errors for one that cannot be read.
    static TBitmap24 LoadBmpFile(const std::string& fileName);
    // The same from a stream at the file's first byte, read forward only (a decoding stream will do);
    // name is for the errors.
    static TBitmap24 ReadBmp(TStream& stream, const std::string& name);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // x from the left, y from the top.
    TRgb Pixel(int x, int y) const { return FPixels[Index(x, y)]; }
    void SetPixel(int x, int y, TRgb colour) { FPixels[Index(x, y)] = colour; }
    // Row by row from the top.
    const std::vector<TRgb>& Pixels() const { return FPixels; }

    bool operator==(const TBitmap24&) const = default;

private:
    std::size_t Index(int x, int y) const;

    int FWidth = 0;
    int FHeight = 0;
    std::vector<TRgb> FPixels;
};

}  // namespace orvex
