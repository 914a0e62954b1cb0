// The window region under Windows GDI: both ways of building it hold the same pixels, and what each
// costs at start-up.
#include <windows.h>

#include "ui/Skin_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace orvex;

namespace {

using TRegion = win32::TGdiObject<HRGN>;
using TBitmapHandle = win32::TGdiObject<HBITMAP>;

// The picture of the build when there is one, else nothing.
TBitmapHandle LoadPicture(const char* name) {
    const char* folder = std::getenv("ORVEX_PICTURES_DIR");
    if (!folder) return {};
    const std::string path = std::string(folder) + "\\" + name;
    return TBitmapHandle(static_cast<HBITMAP>(
        ::LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
}

// A frame like the main window's: key-coloured margin of 7 to 10 pixels at the sides, three rows at
// the top, one at the bottom, an uneven edge, and a key-coloured island inside.
TPixels FramePicture(int32_t width, int32_t height) {
    constexpr uint32_t key = 0x0000A650u, face = 0xFF404040u;
    TPixels picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, face)};
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const int32_t side = 7 + (y / 5) % 4;
            const bool edge = y < 3 + (x / 9) % 3 || y >= height - 1 - (x / 13) % 2 || x < side || x >= width - side;
            const bool island = x >= 400 && x < 404 && y >= 300 && y < 302;
            if (edge || island) picture.Values[static_cast<size_t>(y) * width + x] = key | ((x & 1) ? 0xFF000000u : 0);
        }
    return picture;
}

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

size_t PixelsIn(HRGN region, int32_t width, int32_t height) {
    size_t count = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) count += ::PtInRegion(region, x, y) ? 1 : 0;
    return count;
}

void ExpectSameRegions(const TPixels& picture, size_t cutPixels) {
    const auto start = std::chrono::steady_clock::now();
    TRegion byCuts(RegionByPixelCuts(picture));
    const auto cutsDone = std::chrono::steady_clock::now();
    TRegion byRuns(RegionFromRuns(picture));
    const auto runsDone = std::chrono::steady_clock::now();
    std::printf("%d x %d, %zu pixels cut: one pixel at a time %.1f ms, from runs %.1f ms\n", picture.Width,
                picture.Height, SkinCutPixels(picture).size(), Milliseconds(cutsDone - start),
                Milliseconds(runsDone - cutsDone));
    EXPECT_TRUE(::EqualRgn(byCuts.Get(), byRuns.Get()));
    EXPECT_EQ(PixelsIn(byRuns.Get(), picture.Width, picture.Height),
              static_cast<size_t>(picture.Width) * picture.Height - cutPixels);
    const auto mask = RectsToMask(SkinKeptRuns(picture), picture.Width, picture.Height);
    for (int32_t y = 0; y < picture.Height; ++y)
        for (int32_t x = 0; x < picture.Width; ++x)
            ASSERT_EQ(::PtInRegion(byCuts.Get(), x, y) != 0, mask[static_cast<size_t>(y) * picture.Width + x])
                << x << ", " << y;
}

}  // namespace

TEST(SkinRegion, PixelCutsAndRunsGiveTheSameRegion) {
    const TPixels frame = FramePicture(800, 599);
    ExpectSameRegions(frame, SkinCutPixels(frame).size());
}

TEST(SkinRegion, ThePicturesOfTheBuild) {
    TBitmapHandle main = LoadPicture("main_background.bmp");
    TBitmapHandle options = LoadPicture("options_background.bmp");
    if (!main || !options) GTEST_SKIP() << "no pictures";
    const TPixels mainPixels = PixelsOfBitmap(main.Get());
    ASSERT_EQ(mainPixels.Width, 800);
    ASSERT_EQ(mainPixels.Height, 599);
    EXPECT_EQ(SkinKeyColor(mainPixels), 0x0000A650u);  // red 0, green 166, blue 80
    ExpectSameRegions(mainPixels, 18882);
    const TPixels optionPixels = PixelsOfBitmap(options.Get());
    ASSERT_EQ(optionPixels.Width, 220);
    ASSERT_EQ(optionPixels.Height, 300);
    EXPECT_EQ(SkinCutPixels(optionPixels), (TRectList{{0, 0, 1, 1}}));
    ExpectSameRegions(optionPixels, 1);
}

TEST(SkinRegion, ReadingEveryPixelWithGetPixel) {
    // The cost of reading the picture one pixel at a time, against one copy of all its bits.
    const TPixels frame = FramePicture(800, 599);
    BITMAPINFO header{};
    header.bmiHeader = {sizeof header.bmiHeader, 800, -599, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TBitmapHandle bitmap(::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap);
    std::memcpy(bits, frame.Values.data(), frame.Values.size() * 4);
    const auto start = std::chrono::steady_clock::now();
    size_t keyed = 0;
    {
        const win32::TMemoryDC dc(nullptr);
        const win32::TSelectObject selected(dc.Get(), bitmap.Get());
        const COLORREF key = ::GetPixel(dc.Get(), 0, 0);
        for (int32_t x = 0; x < 800; ++x)
            for (int32_t y = 0; y < 599; ++y) keyed += ::GetPixel(dc.Get(), x, y) == key ? 1 : 0;
    }
    const auto readDone = std::chrono::steady_clock::now();
    const TPixels copied = PixelsOfBitmap(bitmap.Get());
    const auto copyDone = std::chrono::steady_clock::now();
    std::printf("reading 479,200 pixels: GetPixel %.1f ms, one copy %.1f ms\n", Milliseconds(readDone - start),
                Milliseconds(copyDone - readDone));
    EXPECT_EQ(keyed, SkinCutPixels(frame).size());
    EXPECT_EQ(SkinCutPixels(copied), SkinCutPixels(frame));
}
