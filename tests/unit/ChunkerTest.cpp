#include "common/RandomBytes.h"

#include "formats/Chunker.h"
#include "formats/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace orvex;
using orvex::test::BytesOf;
using orvex::test::RandomBytes;

namespace {

constexpr TChunkerParams SmallParams{64, 256, 1024};

std::vector<uint64_t> Cuts(const std::string& data, const TChunkerParams& params = {}) {
    return CutPoints(BytesOf(data), data.size(), params);
}

std::vector<std::string> ChunkHashes(const std::string& data) {
    std::vector<std::string> hashes;
    uint64_t start = 0;
    for (const uint64_t end : Cuts(data)) {
        hashes.push_back(Sha256Hex(data.data() + start, end - start));
        start = end;
    }
    return hashes;
}

}  // namespace

TEST(Chunker, ChunksStayWithinTheBounds) {
    struct Case {
        const char* name;
        std::string data;
        TChunkerParams params;
    };
    const std::vector<Case> cases{
        {"random", RandomBytes(6'000'000, 1), {}},
        {"zeros", std::string(3'000'000, '\0'), {}},
        {"random, small sizes", RandomBytes(300'000, 2), SmallParams},
        {"below the minimum", RandomBytes(1000, 3), {}},
        {"one byte", "x", {}},
        {"min = average = max", RandomBytes(5000, 4), {256, 256, 256}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint64_t> cuts = Cuts(c.data, c.params);
        ASSERT_FALSE(cuts.empty());
        EXPECT_EQ(cuts.back(), c.data.size());
        uint64_t start = 0;
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            const uint64_t size = cuts[i] - start;
            EXPECT_LE(size, c.params.MaxSize) << "chunk " << i;
            EXPECT_GE(size, i + 1 < cuts.size() ? c.params.MinSize : 1u) << "chunk " << i;
            start = cuts[i];
        }
    }
    EXPECT_TRUE(Cuts("").empty());
}

TEST(Chunker, RandomDataAveragesNearTheAverageSize) {
    const std::string data = RandomBytes(16'000'000, 5);
    const double average = static_cast<double>(data.size()) / static_cast<double>(Cuts(data).size());
    EXPECT_GT(average, 48 * 1024.0);
    EXPECT_LT(average, 96 * 1024.0);
}

TEST(Chunker, CutsDoNotDependOnHowTheInputIsSplit) {
    const std::string data = RandomBytes(1'500'000, 6) + std::string(600'000, 'z') + RandomBytes(400'000, 7);
    const std::vector<uint64_t> whole = Cuts(data);
    ASSERT_GT(whole.size(), 10u);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{65539}, std::size_t{1} << 20}) {
        SCOPED_TRACE(piece);
        TChunkCutter cutter;
        std::vector<uint64_t> cuts;
        for (std::size_t at = 0; at < data.size(); at += piece)
            cutter.Feed(BytesOf(data) + at, std::min(piece, data.size() - at), cuts);
        if (const auto end = cutter.Finish()) cuts.push_back(*end);
        EXPECT_EQ(cuts, whole);
        // The cutter starts a new stream after Finish.
        cuts.clear();
        cutter.Feed(BytesOf(data), data.size(), cuts);
        if (const auto end = cutter.Finish()) cuts.push_back(*end);
        EXPECT_EQ(cuts, whole);
    }
}

// The store and the index of every published client hold these cuts: any build, on any platform,
// must cut the same input the same way as the first one did.
TEST(Chunker, CutsStayAsPublished) {
    const std::string data = RandomBytes(2'000'000, 8);
    std::string cutsText;
    for (const uint64_t cut : Cuts(data)) cutsText += std::to_string(cut) + " ";
    EXPECT_EQ(Sha256Hex(cutsText.data(), cutsText.size()), "4761abb9d515359bd3c46cca4d4df81ae9f9ced3979bbd2b961f94ed77958539") << cutsText;
}

TEST(Chunker, CutsRealignAfterAnEdit) {
    const std::string original = RandomBytes(4'000'000, 9);
    const std::vector<std::string> before = ChunkHashes(original);
    const std::set<std::string> known(before.begin(), before.end());
    struct Case {
        const char* name;
        std::string edited;
    };
    const std::vector<Case> cases{
        {"a byte inserted at the start", "!" + original},
        {"bytes inserted in the middle", original.substr(0, 1'234'567) + RandomBytes(5000, 10) + original.substr(1'234'567)},
        {"bytes removed", original.substr(0, 2'000'000) + original.substr(2'000'100)},
        {"bytes overwritten", original.substr(0, 3'000'000) + "edited" + original.substr(3'000'006)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> after = ChunkHashes(c.edited);
        const auto changed = std::count_if(after.begin(), after.end(), [&](const std::string& h) { return !known.contains(h); });
        // The chunk holding the edit changes, and at most one after it before the cuts meet again.
        EXPECT_LE(changed, 2) << "of " << after.size();
        EXPECT_GE(changed, 1);
    }
}

TEST(Chunker, RefusesUnusableParameters) {
    const std::vector<TChunkerParams> refused{
        {0, 256, 1024}, {512, 256, 1024}, {64, 2048, 1024}, {64, 1000, 4096},
        {64, 128, 1024}, {64, 256, ChunkSizeLimit + 1},
    };
    for (const TChunkerParams& params : refused) {
        SCOPED_TRACE(std::to_string(params.MinSize) + " " + std::to_string(params.AverageSize) + " " +
                     std::to_string(params.MaxSize));
        EXPECT_TRUE(ChunkerParamsProblem(params));
        EXPECT_THROW(TChunkCutter{params}, std::invalid_argument);
    }
    EXPECT_FALSE(ChunkerParamsProblem({}));
    EXPECT_FALSE(ChunkerParamsProblem(SmallParams));
}
