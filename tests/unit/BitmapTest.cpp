#include "BZip2TestData.h"
#include "common/ScratchFolder.h"
#include "ui/Bitmap.h"

#include "base/MemoryStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvex;

namespace {

void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

// A BMP file; rows are given from the top, each pixel as 0xRRGGBB.
std::string Bmp(int width, const std::vector<std::vector<uint32_t>>& rows, uint16_t bits = 24, bool topDown = false,
                uint32_t compression = 0) {
    const int height = static_cast<int>(rows.size());
    const std::size_t stride = ((bits / 8) * static_cast<std::size_t>(width) + 3) & ~std::size_t(3);
    std::string out = "BM";
    Put32(out, static_cast<uint32_t>(54 + stride * rows.size()));
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(topDown ? -height : height));
    Put16(out, 1);
    Put16(out, bits);
    Put32(out, compression);
    for (int i = 0; i < 5; ++i) Put32(out, 0);
    for (int i = 0; i < height; ++i) {
        const auto& row = rows[static_cast<std::size_t>(topDown ? i : height - 1 - i)];
        std::string line;
        for (uint32_t rgb : row) {
            line += static_cast<char>(rgb & 0xFF);
            line += static_cast<char>((rgb >> 8) & 0xFF);
            line += static_cast<char>((rgb >> 16) & 0xFF);
            if (bits == 32) line += '\x7F';
        }
        line.resize(stride, '\xEE');
        out += line;
    }
    return out;
}

}  // namespace

TEST(TBitmap24, ReadsBottomUpAndTopDownRowsWithTheirPadding) {
    const test::ScratchFolder folder;
    const std::vector<std::vector<uint32_t>> rows = {{0x102030, 0x405060, 0x708090}, {0xA0B0C0, 0xD0E0F0, 0x00A650}};
    folder.Write("up.bmp", Bmp(3, rows));
    folder.Write("down32.bmp", Bmp(3, rows, 32, true));
    for (const char* name : {"up.bmp", "down32.bmp"}) {
        SCOPED_TRACE(name);
        const TBitmap24 picture = TBitmap24::LoadBmpFile(folder.File(name));
        ASSERT_EQ(picture.Width(), 3);
        ASSERT_EQ(picture.Height(), 2);
        EXPECT_EQ(picture.Pixel(0, 0), (TRgb{0x10, 0x20, 0x30}));
        EXPECT_EQ(picture.Pixel(2, 0), (TRgb{0x70, 0x80, 0x90}));
        EXPECT_EQ(picture.Pixel(1, 1), (TRgb{0xD0, 0xE0, 0xF0}));
        EXPECT_EQ(picture.Pixel(2, 1), (TRgb{0, 166, 80}));
    }
    EXPECT_EQ(TBitmap24::LoadBmpFile(folder.File("up.bmp")), TBitmap24::LoadBmpFile(folder.File("down32.bmp")));
    // The launcher reads its pictures through the bzip2 decoder, which only reads forward.
    const std::string file = Bmp(3, rows);
    TMemoryStream packed(test::Compress(test::Bytes(file.begin(), file.end())));
    TBZDecompressionStream decoded(packed);
    EXPECT_EQ(TBitmap24::ReadBmp(decoded, "packed"), TBitmap24::LoadBmpFile(folder.File("up.bmp")));
    EXPECT_THROW(TBitmap24::LoadBmpFile(folder.File("up.bmp")).Pixel(3, 0), EListError);
}

TEST(TBitmap24, RefusesWhatItCannotRead) {
    const test::ScratchFolder folder;
    const std::vector<std::vector<uint32_t>> rows = {{1, 2}, {3, 4}};
    folder.Write("rle.bmp", Bmp(2, rows, 24, false, 1));
    folder.Write("png.bmp", "\x89PNG" + Bmp(2, rows).substr(4));
    folder.Write("empty.bmp", Bmp(0, {}));
    std::string huge = Bmp(2, rows);
    huge[25] = '\x7F';  // height's high byte: over two billion rows
    folder.Write("huge.bmp", huge);
    folder.Write("short.bmp", Bmp(2, rows).substr(0, 60));
    for (const char* name : {"rle.bmp", "png.bmp", "empty.bmp", "huge.bmp"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(TBitmap24::LoadBmpFile(folder.File(name)), EInvalidGraphic);
    }
    EXPECT_THROW(TBitmap24::LoadBmpFile(folder.File("short.bmp")), EReadError);
    EXPECT_THROW(TBitmap24::LoadBmpFile(folder.File("missing.bmp")), EFOpenError);
}
