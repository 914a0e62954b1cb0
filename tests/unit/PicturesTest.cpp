#include "ui/Bitmap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvex;

namespace {

// --- the window pictures the build draws ------------------------------------------------------------

constexpr TRgb MainKey{0, 166, 80};
constexpr TRgb OptionsKey{200, 147, 83};

TBitmap24 Picture(const std::string& name) { return TBitmap24::LoadBmpFile(std::string(ORVEX_PICTURES_DIR) + "/" + name); }

struct Rect {
    int Left, Top, Width, Height;
};

struct Button {
    const char* Name;
    Rect Bounds;
};
const Button Buttons[] = {{"play", {686, 485, 96, 99}},
                          {"check", {575, 506, 101, 27}},
                          {"cancel", {575, 535, 101, 27}},
                          {"close", {768, 15, 20, 20}},
                          {"options", {715, 18, 52, 15}}};

TBitmap24 Crop(const TBitmap24& picture, Rect r) {
    TBitmap24 part(r.Width, r.Height);
    for (int y = 0; y < r.Height; ++y)
        for (int x = 0; x < r.Width; ++x) part.SetPixel(x, y, picture.Pixel(r.Left + x, r.Top + y));
    return part;
}

int KeyRun(const TBitmap24& picture, int y, int from, int step) {
    int n = 0;
    for (int x = from; x >= 0 && x < picture.Width() && picture.Pixel(x, y) == MainKey; x += step) ++n;
    return n;
}

class Pictures : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Background = new TBitmap24(Picture("main_background.bmp")); }
    static void TearDownTestSuite() {
        delete Background;
        Background = nullptr;
    }
    static TBitmap24* Background;
};
TBitmap24* Pictures::Background = nullptr;

TEST_F(Pictures, MainBackgroundCutsTheSkinsMarginAndNothingElse) {
    const TBitmap24& bg = *Background;
    ASSERT_EQ(bg.Width(), 800);
    ASSERT_EQ(bg.Height(), 599);
    ASSERT_EQ(bg.Pixel(0, 0), MainKey);

    std::size_t keyed = 0;
    for (const TRgb& p : bg.Pixels()) keyed += p == MainKey;
    EXPECT_EQ(keyed, 18882u);

    for (int y : {0, 1, 2, 598}) EXPECT_EQ(KeyRun(bg, y, 0, 1), 800) << "row " << y;
    EXPECT_LT(KeyRun(bg, 3, 0, 1), 800);
    // Along the sides, below and above the irregular top and bottom edges.
    for (int y = 40; y < 560; ++y) {
        const int left = KeyRun(bg, y, 0, 1), right = KeyRun(bg, y, 799, -1);
        ASSERT_TRUE(left >= 7 && left <= 10 && right >= 7 && right <= 10)
            << "row " << y << ": " << left << " and " << right << " pixels at the sides";
    }

    // No holes: every key-coloured pixel is reached from the border over key-coloured pixels.
    std::vector<char> seen(bg.Pixels().size());
    std::vector<std::pair<int, int>> pending;
    const auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= bg.Width() || y >= bg.Height()) return;
        const std::size_t i = static_cast<std::size_t>(y) * 800 + static_cast<std::size_t>(x);
        if (!seen[i] && bg.Pixel(x, y) == MainKey) {
            seen[i] = 1;
            pending.emplace_back(x, y);
        }
    };
    for (int x = 0; x < 800; ++x) visit(x, 0), visit(x, 598);
    for (int y = 0; y < 599; ++y) visit(0, y), visit(799, y);
    std::size_t reached = 0;
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        ++reached;
        visit(x + 1, y), visit(x - 1, y), visit(x, y + 1), visit(x, y - 1);
    }
    EXPECT_EQ(reached, keyed);
}

TEST_F(Pictures, ControlsLieOnTheFace) {
    std::vector<Rect> controls = {{12, 42, 774, 439}, {128, 512, 429, 13}, {33, 526, 82, 13},
                                  {33, 540, 85, 13},  {127, 531, 430, 5},  {127, 546, 430, 5}};
    for (const Button& b : Buttons) controls.push_back(b.Bounds);
    for (const Rect& r : controls)
        for (int y = r.Top; y < r.Top + r.Height; ++y)
            for (int x = r.Left; x < r.Left + r.Width; ++x)
                ASSERT_FALSE(Background->Pixel(x, y) == MainKey) << "control at " << r.Left << "," << r.Top;
}

TEST_F(Pictures, ButtonsCarryTheBackgroundBeneathThemAndLookPressedWhenDisabled) {
    for (const Button& b : Buttons) {
        SCOPED_TRACE(b.Name);
        const std::string base = std::string("btn_") + b.Name + "_";
        const TBitmap24 normal = Picture(base + "normal.bmp"), hover = Picture(base + "hover.bmp"),
                        pressed = Picture(base + "pressed.bmp"), disabled = Picture(base + "disabled.bmp");
        const TBitmap24 beneath = Crop(*Background, b.Bounds);
        for (const TBitmap24* state : {&normal, &hover, &pressed, &disabled}) {
            ASSERT_EQ(state->Width(), b.Bounds.Width);
            ASSERT_EQ(state->Height(), b.Bounds.Height);
        }
        EXPECT_EQ(disabled, pressed);
        EXPECT_NE(normal, hover);
        EXPECT_NE(normal, pressed);
        EXPECT_NE(normal, beneath);
        // Drawn with or without the bottom-left pixel's colour left out, a button looks the same.
        for (const TBitmap24* state : {&normal, &hover, &pressed}) {
            const TRgb corner = state->Pixel(0, b.Bounds.Height - 1);
            for (int y = 0; y < b.Bounds.Height; ++y)
                for (int x = 0; x < b.Bounds.Width; ++x)
                    if (state->Pixel(x, y) == corner) {
                        ASSERT_EQ(beneath.Pixel(x, y), corner) << "pixel " << x << "," << y;
                    }
        }
    }
}

TEST(OptionsPicture, OnlyTheTopLeftPixelHasTheKeyColour) {
    const TBitmap24 picture = Picture("options_background.bmp");
    ASSERT_EQ(picture.Width(), 220);
    ASSERT_EQ(picture.Height(), 300);
    EXPECT_EQ(picture.Pixel(0, 0), OptionsKey);
    std::size_t keyed = 0;
    for (const TRgb& p : picture.Pixels()) keyed += p == OptionsKey;
    EXPECT_EQ(keyed, 1u);
}

}  // namespace
