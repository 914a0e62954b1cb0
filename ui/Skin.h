#pragma once
// The outline of a skinned window: every pixel of its background picture except those of the key
// colour, the colour of the top-left pixel. Only the 24 colour bits count; a fourth byte is ignored.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvex {

class TBitmap24;

struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;   // exclusive
    int32_t Bottom = 0;  // exclusive
    friend auto operator<=>(const TRect&, const TRect&) = default;
};
using TRectList = std::vector<TRect>;

// A picture as 32-bit values, top row first; the low 24 bits are the colour.
struct TPixels {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint32_t> Values;  // Width * Height

    uint32_t At(int32_t x, int32_t y) const { return Values[static_cast<std::size_t>(y) * Width + x]; }
};

// Reads rows of 3- or 4-byte pixels (blue, green, red[, fourth]), each row `stride` bytes apart,
// the top row first.
TPixels PixelsFromRows(const uint8_t* rows, int32_t width, int32_t height, int bytesPerPixel, std::size_t stride);

inline constexpr uint32_t ColorMask = 0x00FFFFFF;

TPixels PixelsOf(const TBitmap24& bitmap);

// The key colour: the colour of pixel (0, 0).
uint32_t SkinKeyColor(const TPixels& picture);

// The key-coloured pixels as one-pixel rectangles, in the order they are cut from the picture's
// rectangle: column by column from the left, each column from the top.
TRectList SkinCutPixels(const TPixels& picture);

// The pixels that stay, as horizontal runs: row by row from the top, each row from the left.
TRectList SkinKeptRuns(const TPixels& picture);

// The pixel set of a list of rectangles as a Width x Height mask, top row first (true = inside).
std::vector<bool> RectsToMask(const TRectList& rects, int32_t width, int32_t height);

}  // namespace orvex
