#include "formats/md5.h"

#include "common/Md5Text.h"
#include "common/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

using namespace orvex;
using orvex::test::Md5Hex;
using orvex::test::ScratchFolder;
namespace fs = std::filesystem;

namespace {

const char* const EmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

}  // namespace

TEST(MD5, MatchesTheReferenceSuite) {
    EXPECT_EQ(Md5Hex(""), EmptyDigest);
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5, GivesTheSameDigestHoweverTheInputIsSplit) {
    const std::string data = RandomBytes(3000, 1);
    const std::string whole = Md5Hex(data);
    // Shortened before the read begins, the file is whole again at its new length.
    const std::string shortenedFirst = Md5Hex(data.substr(0, 4096));
    std::mt19937 generator(2);
    for (int round = 0; round < 20; ++round) {
        MD5_CTX context;
        MD5Init(context);
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t count = std::min<std::size_t>(generator() % 150, data.size() - at);
            MD5Update(context, data.data() + at, static_cast<uint32_t>(count));
            at += count;
        }
        MD5Digest digest;
        MD5Final(context, digest);
        EXPECT_EQ(DigestToHex(digest), whole);
    }
}

TEST(MD5, CarriesTheBitCountIntoItsHighWordAndWipesTheContext) {
    MD5_CTX context;
    MD5Init(context);
    context.count[0] = 0xFFFFFFF8u;  // one byte short of 2^32 bits
    MD5Update(context, "x", 1);
    EXPECT_EQ(context.count[0], 0u);
    EXPECT_EQ(context.count[1], 1u);

    MD5Digest digest;
    MD5Final(context, digest);
    const MD5_CTX zero{};
    EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0);
}

TEST(MD5, HexTextIsLowercase) {
    MD5Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(i * 17 + 0x0A);
    EXPECT_EQ(DigestToHex(digest), "0a1b2c3d4e5f708192a3b4c5d6e7f809");
}

TEST(FileMD5, AgreesWithMd5sumOnEveryLength) {
    const char* samples = std::getenv("ORVEX_MD5_SAMPLES");
    if (!samples) GTEST_SKIP() << "ORVEX_MD5_SAMPLES is set by ctest";
    std::ifstream expected(std::string(samples) + "/expected.md5");
    ASSERT_TRUE(expected) << "no expected.md5 in " << samples;
    int checked = 0;
    for (std::string line; std::getline(expected, line);) {
        std::istringstream fields(line);
        std::string digest, name;
        fields >> digest >> name;
        const std::string path = std::string(samples) + "/" + name;
        EXPECT_EQ(DigestToHex(FileMD5(path)), digest) << name;
        EXPECT_EQ(DigestToHex(detail::FileMD5InPieces(path, 1)), digest) << name << " in pieces";
        ++checked;
    }
    EXPECT_GE(checked, 12);
}

TEST(FileMD5, DigestsInSmallPiecesLikeInOneView) {
    const ScratchFolder dir;
    // Pieces are rounded up to the mapping granularity (64 KiB on Windows), so this makes several.
    const std::string data = RandomBytes(5 * 65536 + 333, 3);
    const std::string path = dir.Write("pieces.bin", data);
    const std::string whole = DigestToHex(FileMD5(path));
    EXPECT_EQ(whole, Md5Hex(data));
    for (const uint64_t piece : {uint64_t{1}, uint64_t{65536}, uint64_t{100000}, uint64_t{1} << 20})
        EXPECT_EQ(DigestToHex(detail::FileMD5InPieces(path, piece)), whole) << piece;
}

TEST(FileMD5, MissingEmptyOrFolderGiveTheEmptyDigest) {
    const ScratchFolder dir;
    EXPECT_EQ(DigestToHex(FileMD5(dir.OsFile("missing.bin"))), EmptyDigest);
    EXPECT_EQ(DigestToHex(FileMD5(dir.Write("empty.bin", ""))), EmptyDigest);
    EXPECT_EQ(DigestToHex(detail::FileMD5InPieces(dir.OsFile("empty.bin"), 1)), EmptyDigest);
    fs::create_directories(dir.OsFile("folder"));
    EXPECT_EQ(DigestToHex(FileMD5(dir.OsFile("folder"))), EmptyDigest);
}

TEST(FileMD5, ReadsAFileThatIsOpenForWriting) {
    const ScratchFolder dir;
    const std::string path = dir.OsFile("busy.bin");
    std::FILE* writer = std::fopen(path.c_str(), "wb");
    ASSERT_NE(writer, nullptr);
    const std::string data = RandomBytes(10000, 4);
    std::fwrite(data.data(), 1, data.size(), writer);
    std::fflush(writer);
    EXPECT_EQ(DigestToHex(FileMD5(path)), Md5Hex(data));
    std::fclose(writer);
}

TEST(FileMD5, AFileShortenedWhileItIsReadGivesTheWholeOrTheEmptyDigest) {
    const ScratchFolder dir;
    const std::string data = RandomBytes(24 << 20, 5);
    const std::string whole = Md5Hex(data);
    // Shortened before the read begins, the file is whole again at its new length.
    const std::string shortenedFirst = Md5Hex(data.substr(0, 4096));
    const std::string path = dir.OsFile("shrinking.bin");
    int shortened = 0;
    for (int round = 0; round < 6; ++round) {
        orvex::test::WriteWholeFile(path, data);
        std::thread shortener([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2 * round));
            fs::resize_file(path, 4096);
        });
        const std::string digest = DigestToHex(FileMD5(path));
        shortener.join();
        EXPECT_TRUE(digest == whole || digest == EmptyDigest || digest == shortenedFirst)
            << "round " << round << " gave a part's digest";
        shortened += digest == EmptyDigest;
    }
    // The race has to be met at least once, or the test proves nothing.
    EXPECT_GT(shortened, 0);
}
