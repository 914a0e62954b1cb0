#include "ui/Bitmap.h"
#include "ui/Skin.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

using namespace orvex;

namespace {

// Builds a picture from rows of characters: '.' is the key colour, '#' the frame, 'a' the key colour
// with another fourth byte, 'o' a colour one step off the key.
TPixels Picture(const std::vector<std::string>& rows) {
    constexpr uint32_t key = 0x0000A650u;  // red 0, green 166, blue 80
    TPixels picture{static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()), {}};
    for (const auto& row : rows)
        for (char c : row)
            picture.Values.push_back(c == '.' ? key : c == 'a' ? (key | 0xFF000000u) : c == 'o' ? key + 1 : 0x00808080u);
    return picture;
}

std::vector<bool> CutMask(const TPixels& picture) {
    auto mask = RectsToMask(SkinCutPixels(picture), picture.Width, picture.Height);
    mask.flip();
    return mask;
}

// Counts the cut pixels connected to the border through cut pixels (4-neighbours).
size_t CutReachedFromTheBorder(const std::vector<bool>& kept, int32_t width, int32_t height) {
    std::vector<bool> seen(kept.size(), false);
    std::vector<std::pair<int32_t, int32_t>> todo;
    auto visit = [&](int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        const size_t i = static_cast<size_t>(y) * width + x;
        if (kept[i] || seen[i]) return;
        seen[i] = true;
        todo.emplace_back(x, y);
    };
    for (int32_t x = 0; x < width; ++x) visit(x, 0), visit(x, height - 1);
    for (int32_t y = 0; y < height; ++y) visit(0, y), visit(width - 1, y);
    size_t reached = 0;
    while (!todo.empty()) {
        const auto [x, y] = todo.back();
        todo.pop_back();
        ++reached;
        visit(x + 1, y), visit(x - 1, y), visit(x, y + 1), visit(x, y - 1);
    }
    return reached;
}

}  // namespace

TEST(Skin, CutsTheKeyColourColumnByColumnAndIslandsBecomeHoles) {
    const TPixels picture = Picture({
        "..##.",
        ".####",
        "##.##",
        "#o.a#",
        "#####",
    });
    EXPECT_EQ(SkinKeyColor(picture), 0x0000A650u);
    const TRectList cut = SkinCutPixels(picture);
    // Column 0 top to bottom, then column 1, ...; the fourth byte plays no part, one colour step does.
    const TRectList expected = {{0, 0, 1, 1}, {0, 1, 1, 2}, {1, 0, 2, 1}, {2, 2, 3, 3},
                                {2, 3, 3, 4}, {3, 3, 4, 4}, {4, 0, 5, 1}};
    EXPECT_EQ(cut, expected);
    const TRectList runs = SkinKeptRuns(picture);
    const TRectList expectedRuns = {{2, 0, 4, 1}, {1, 1, 5, 2}, {0, 2, 2, 3}, {3, 2, 5, 3},
                                    {0, 3, 2, 4}, {4, 3, 5, 4}, {0, 4, 5, 5}};
    EXPECT_EQ(runs, expectedRuns);
    // The island (2,2), (2,3), (3,3) is a hole: not reached from the border.
    EXPECT_EQ(CutReachedFromTheBorder(RectsToMask(runs, 5, 5), 5, 5), 4u);
}

TEST(Skin, PixelRunsHoldExactlyThePixelsLeftByTheOnePixelCuts) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        TPixels picture{1 + static_cast<int32_t>(random() % 40), 1 + static_cast<int32_t>(random() % 30), {}};
        for (int32_t i = 0; i < picture.Width * picture.Height; ++i)
            picture.Values.push_back((random() % 3 == 0 ? 0x123456u : 0x654321u) | (random() % 256) << 24);
        EXPECT_EQ(RectsToMask(SkinKeptRuns(picture), picture.Width, picture.Height), CutMask(picture))
            << picture.Width << " x " << picture.Height;
    }
}

TEST(Skin, ReadsPaddedRowsOf24And32BitPixels) {
    // 2 x 2, blue-green-red order; 24-bit rows padded to 8 bytes.
    const uint8_t rows24[] = {1, 2, 3, 9, 9, 9, 0, 0, /**/ 1, 2, 3, 1, 2, 3, 0, 0};
    const TPixels p24 = PixelsFromRows(rows24, 2, 2, 3, 8);
    EXPECT_EQ(p24.Values, (std::vector<uint32_t>{0x030201u, 0x090909u, 0x030201u, 0x030201u}));
    EXPECT_EQ(SkinCutPixels(p24), (TRectList{{0, 0, 1, 1}, {0, 1, 1, 2}, {1, 1, 2, 2}}));
    const uint8_t rows32[] = {1, 2, 3, 0, 1, 2, 3, 255};
    const TPixels p32 = PixelsFromRows(rows32, 2, 1, 4, 8);
    EXPECT_EQ(p32.Values, (std::vector<uint32_t>{0x00030201u, 0xFF030201u}));
    EXPECT_EQ(SkinCutPixels(p32).size(), 2u);
}

TEST(Skin, ThePicturesOfTheTwoWindows) {
    const TPixels main = PixelsOf(TBitmap24::LoadBmpFile(std::string(ORVEX_PICTURES_DIR) + "/main_background.bmp"));
    ASSERT_EQ(main.Width, 800);
    ASSERT_EQ(main.Height, 599);
    EXPECT_EQ(SkinKeyColor(main), 0x0000A650u);  // red 0, green 166, blue 80
    const TRectList cut = SkinCutPixels(main);
    EXPECT_EQ(cut.size(), 18882u);
    const auto kept = RectsToMask(SkinKeptRuns(main), main.Width, main.Height);
    EXPECT_EQ(kept, CutMask(main));
    // A margin, no holes: the top three rows and the bottom row go whole, and every cut pixel is
    // reached from the picture's border through cut pixels.
    for (int32_t y : {0, 1, 2, main.Height - 1})
        for (int32_t x = 0; x < main.Width; ++x) ASSERT_FALSE(kept[static_cast<size_t>(y) * main.Width + x]);
    EXPECT_EQ(CutReachedFromTheBorder(kept, main.Width, main.Height), cut.size());

    const TPixels options =
        PixelsOf(TBitmap24::LoadBmpFile(std::string(ORVEX_PICTURES_DIR) + "/options_background.bmp"));
    ASSERT_EQ(options.Width, 220);
    ASSERT_EQ(options.Height, 300);
    EXPECT_EQ(SkinKeyColor(options), 0x00C89353u);  // red 200, green 147, blue 83
    EXPECT_EQ(SkinCutPixels(options), (TRectList{{0, 0, 1, 1}}));
}
