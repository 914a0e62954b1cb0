#include "common/RandomBytes.h"

#include "formats/ChunkIndex.h"
#include "formats/encode/ChunkIndexFile.h"

#include <gtest/gtest.h>

using namespace orvex;
using orvex::test::BytesOf;

namespace {

TSha256Digest HashOf(const std::string& text) { return Sha256(text.data(), text.size()); }

TChunkIndex Sample() {
    TChunkIndex index;
    index.Chunker = {16384, 65536, 262144};
    index.Files.push_back({"data\\maps\\first map.dat", 300000, HashOf("map"),
                           {{HashOf("a"), 0, 200000, 150000}, {HashOf("b"), 200000, 100000, 100020}}});
    index.Files.push_back({"empty.txt", 0, HashOf(""), {}});
    index.Files.push_back({"game.exe", 5, HashOf("exe"), {{HashOf("exe"), 0, 5, 14}}});
    return index;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("no " + from + " in the sample");
    return text.replace(at, from.size(), to);
}

}  // namespace

TEST(ChunkIndex, RoundTrips) {
    const TChunkIndex index = Sample();
    const std::vector<uint8_t> file = FormatChunkIndex(index);
    const TParsed<TChunkIndex> read = ReadChunkIndex(file.data(), file.size());
    ASSERT_TRUE(read) << read.Error;
    EXPECT_EQ(*read.Value, index);
    EXPECT_EQ(ChunkStorePath(HashOf("abc")),
              "chunks/ba/ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad.zst");
    TChunkIndex unnamed = index;
    unnamed.Files[1].Path = "line\nbreak";
    EXPECT_THROW(FormatChunkIndexText(unnamed), std::invalid_argument);
}

TEST(ChunkIndex, RefusesMalformedIndexes) {
    const std::string text = FormatChunkIndexText(Sample());
    const std::string a = DigestHex(HashOf("a")), b = DigestHex(HashOf("b"));
    const std::string chunkB = "chunk " + b + " 200000 100000 100020\n";
    struct Case {
        const char* name;
        std::string text;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"empty", "", "line 1: not a chunk index"},
        {"another format", Replaced(text, "orvex-chunks", "orvex-blocks"), "line 1: not a chunk index"},
        {"unknown version", Replaced(text, "orvex-chunks 1", "orvex-chunks 2"), "line 1: version 2 is not known"},
        {"no chunker line", "orvex-chunks 1\n", "line 2: no chunker line"},
        {"binary", std::string("\x28\xb5\x2f\xfd\0\n", 6), "line 1: not a chunk index"},
        {"unusable chunker", Replaced(text, "chunker 16384 65536", "chunker 16384 60000"), "line 2: the average"},
        {"no final line end", text.substr(0, text.size() - 1), "no line end"},
        {"unknown line", text + "folder x\n", "an unknown line"},
        {"chunk before any file", Replaced(text, "file 300000", chunkB + "file 300000"), "line 3: a chunk before any file"},
        {"a gap between chunks", Replaced(text, b + " 200000", b + " 200001"), "not where the one before ended (200000)"},
        {"first chunk not at 0", Replaced(text, a + " 0", a + " 1"), "not where the one before ended (0)"},
        {"chunks short of the file", Replaced(text, "file 300000", "file 300001"), "cover 300000 of its 300001 bytes"},
        {"chunks beyond the file", Replaced(text, "file 300000", "file 299999"), "ends beyond the file's size"},
        {"chunk above the maximum", Replaced(text, "chunker 16384 65536 262144", "chunker 16384 65536 131072"),
         "not 1 to the chunker's maximum 131072"},
        {"empty chunk", Replaced(text, "0 5 14", "0 0 14"), "not 1 to the chunker's maximum"},
        {"compressed size 0", Replaced(text, "0 5 14", "0 5 0"), "compressed size"},
        {"compressed beyond zstd's bound", Replaced(text, "100000 100020", "100000 900000"), "compressed size"},
        {"upper-case hex", Replaced(text, a, Replaced(a, a.substr(0, 1), "A")), "the chunk hash is not 64"},
        {"bad file hash", Replaced(text, DigestHex(HashOf("exe")) + " game", "x game"), "the file hash is not 64"},
        {"leading zero", Replaced(text, "0 5 14", "0 05 14"), "the chunk size is not a plain decimal"},
        {"number too large", Replaced(text, "file 5", "file 99999999999999999999"), "the file size is too large"},
        {"size beyond 32 bits", Replaced(text, "0 5 14", "0 4294967296 14"), "above 4294967295"},
        {"an extra field", Replaced(text, "0 5 14", "0 5 14 1"), "not 5 fields"},
        {"two spaces", Replaced(text, "file 5", "file  5"), "the file size is not a plain decimal"},
        {"a path twice", Replaced(text, "game.exe", "EMPTY.txt"), "the path EMPTY.txt is listed before"},
        {"an empty path", Replaced(text, " game.exe", " "), "an empty path"},
        {"a control character", Replaced(text, "game.exe", "game\r.exe"), "control character"},
        {"a path too long", Replaced(text, "game.exe", std::string(MaxChunkIndexPathLength + 1, 'g')), "longer than 1024"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TParsed<TChunkIndex> parsed = ParseChunkIndexText(c.text);
        EXPECT_FALSE(parsed);
        EXPECT_NE(parsed.Error.find(c.reason), std::string::npos) << parsed.Error;
    }
    EXPECT_TRUE(ParseChunkIndexText(text)) << "the sample itself";
    EXPECT_TRUE(ParseChunkIndexText("orvex-chunks 1\nchunker 64 256 1024\n")) << "an index of no files";
    // The caps, shortened to just below the sample.
    const std::vector<std::pair<TChunkIndexLimits, const char*>> capped{
        {{text.size() - 1, 3, 3}, "longer than"},
        {{text.size(), 2, 3}, "line 7: more than 2 files"},
        {{text.size(), 3, 2}, "line 8: more than 2 chunks"},
    };
    for (const auto& [limits, reason] : capped) {
        const TParsed<TChunkIndex> parsed = ParseChunkIndexText(text, limits);
        EXPECT_NE(parsed.Error.find(reason), std::string::npos) << parsed.Error;
    }
    // The compressed file: what zstd refuses is refused too.
    const std::vector<uint8_t> file = FormatChunkIndex(Sample());
    const TParsed<TChunkIndex> cut = ReadChunkIndex(file.data(), file.size() - 1);
    EXPECT_NE(cut.Error.find("chunk index: zstd: "), std::string::npos) << cut.Error;
    const TParsed<TChunkIndex> plain = ReadChunkIndex(BytesOf(text), text.size());
    EXPECT_NE(plain.Error.find("not a zstd frame"), std::string::npos) << plain.Error;
    const TParsed<TChunkIndex> tooLong = ReadChunkIndex(file.data(), file.size(), {text.size() - 1, 3, 3});
    EXPECT_NE(tooLong.Error.find("above the cap"), std::string::npos) << tooLong.Error;
}
