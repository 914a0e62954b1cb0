#include "formats/BZip2Blocks.h"

#include "BZip2TestData.h"

#include "base/MemoryStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace orvex;
using namespace orvex::test;

namespace {

struct CollectingOutput : IBlockOutput {
    Bytes Decoded;
    std::size_t LargestPiece = 0;
    std::vector<uint64_t> Progress;
    void Output(const uint8_t* bytes, std::size_t count) override {
        Decoded.insert(Decoded.end(), bytes, bytes + count);
        LargestPiece = std::max(LargestPiece, count);
    }
    void PackedDone(uint64_t packedDone) override { Progress.push_back(packedDone); }
};

struct ParallelResult {
    bool Decoded = false;
    CollectingOutput Output;
};

ParallelResult DecodeParallel(const Bytes& packed, unsigned threads, std::vector<TMagicHit> extra = {}) {
    TMemoryStream source(packed);
    TBlockDecodeOptions options;
    options.Threads = threads;
    options.ExtraCandidates = std::move(extra);
    ParallelResult result;
    result.Decoded = DecodeBlocksInParallel(source, result.Output, options);
    return result;
}

std::vector<TMagicHit> Scan(const Bytes& packed, std::size_t window) {
    TMagicScanner scanner;
    std::vector<TMagicHit> hits;
    for (std::size_t at = 0; at < packed.size(); at += window)
        scanner.Scan(packed.data() + at, std::min(window, packed.size() - at), hits);
    return hits;
}

Bytes SampleFile(const std::string& name) { return ReadFile(std::string(ORVEX_BZIP2_SAMPLES) + "/" + name); }

// Several blocks of different kinds: text, incompressible bytes, and runs that decode to more than
// a part may hold. Made once: compressing takes most of these tests' time.
struct Mixed {
    Bytes Plain;
    Bytes Packed;
};

const Mixed& MixedSample() {
    static const Mixed sample = [] {
        Mixed mixed;
        mixed.Plain = Joined(Joined(TextBytes(600000), RandomBytes(1500000, 5)), Bytes(3000000, 'x'));
        mixed.Plain = Joined(mixed.Plain, TextBytes(200000));
        mixed.Packed = Compress(mixed.Plain);
        return mixed;
    }();
    return sample;
}

}  // namespace

TEST(MagicScanner, FindsBothPatternsAtEveryBitOffsetWhateverTheWindows) {
    for (const bool endOfStream : {false, true}) {
        for (uint64_t bit = 32; bit < 48; ++bit) {
            Bytes bytes = RandomBytes(40, static_cast<unsigned>(bit));
            const uint64_t pattern = endOfStream ? EndOfStreamMagic : BlockMagic;
            for (unsigned i = 0; i < 48; ++i) {
                const uint64_t at = bit + i;
                const auto mask = static_cast<uint8_t>(0x80u >> (at % 8));
                if ((pattern >> (47 - i)) & 1)
                    bytes[at / 8] |= mask;
                else
                    bytes[at / 8] &= static_cast<uint8_t>(~mask);
            }
            for (const std::size_t window : {std::size_t{1}, std::size_t{5}, bytes.size()}) {
                EXPECT_EQ(Scan(bytes, window), (std::vector<TMagicHit>{{bit, endOfStream}}))
                    << "bit " << bit << ", window " << window << ", end " << endOfStream;
            }
        }
    }
    EXPECT_TRUE(Scan(Bytes{0x31, 0x41, 0x59, 0x26, 0x53, 0x59, 0, 0, 0, 0}, 3).empty()) << "inside the header";
}

TEST(BlockDecode, GivesTheOriginalBytesInOrderWithRisingProgress) {
    struct Case {
        std::string Name;
        Bytes Packed;
        Bytes Plain;
    };
    std::vector<Case> cases;
    for (const char* name : {"sample1", "sample2", "sample3"})
        cases.push_back({name, SampleFile(std::string(name) + ".bz2"), SampleFile(std::string(name) + ".ref")});
    const Bytes random = RandomBytes(1000000, 9);
    cases.push_back({"random", Compress(random), random});
    cases.push_back({"mixed", MixedSample().Packed, MixedSample().Plain});
    cases.push_back({"small blocks", Compress(MixedSample().Plain, 1), MixedSample().Plain});
    // What bzip2 makes of an empty file: the header and the trailer with a CRC of 0.
    cases.push_back({"empty", {'B', 'Z', 'h', '9', 0x17, 0x72, 0x45, 0x38, 0x50, 0x90, 0, 0, 0, 0}, {}});

    for (const Case& c : cases) {
        for (const unsigned threads : {1u, 3u}) {
            const ParallelResult result = DecodeParallel(c.Packed, threads);
            EXPECT_TRUE(result.Decoded) << c.Name;
            EXPECT_TRUE(result.Output.Decoded == c.Plain) << c.Name << ", " << threads << " threads";
            const std::vector<uint64_t>& progress = result.Output.Progress;
            EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << c.Name;
            ASSERT_FALSE(progress.empty()) << c.Name;
            EXPECT_EQ(progress.back(), c.Packed.size()) << c.Name;
            EXPECT_LE(result.Output.LargestPiece, MaxHeldOutput) << c.Name << ": runs are passed on in bounded pieces";
        }
    }
}

TEST(BlockDecode, MergesAPartThatEndsAtAFalseCandidate) {
    const Bytes& plain = MixedSample().Plain;
    const Bytes& packed = MixedSample().Packed;
    const std::vector<TMagicHit> real = Scan(packed, packed.size());
    ASSERT_GE(real.size(), 4u);
    const uint64_t firstMiddle = (real[0].Bit + real[1].Bit) / 2;
    const uint64_t lastBlock = real[real.size() - 2].Bit;
    const std::vector<std::vector<TMagicHit>> falseOnes = {
        {{firstMiddle, false}},
        {{firstMiddle, true}},
        {{real[1].Bit + 1, false}, {real[1].Bit + 2, false}, {real[1].Bit + 9, true}},
        {{lastBlock + 100, false}, {(lastBlock + real.back().Bit) / 2, false}},
        {{real.back().Bit - 1, false}},
    };
    // Parts are merged on the calling thread, whatever the number of threads.
    for (std::size_t i = 0; i < falseOnes.size(); ++i) {
        const ParallelResult result = DecodeParallel(packed, 2, falseOnes[i]);
        EXPECT_TRUE(result.Decoded) << "case " << i;
        EXPECT_TRUE(result.Output.Decoded == plain) << "case " << i;
    }
}

TEST(BlockDecode, LeavesAnythingButOneCompleteStreamToTheSequentialDecode) {
    const Bytes& packed = MixedSample().Packed;
    const std::vector<TMagicHit> real = Scan(packed, packed.size());
    ASSERT_GE(real.size(), 3u);
    Bytes corrupt = packed;
    corrupt[real[1].Bit / 8 + 5000] ^= 0x10;
    Bytes badCrc = packed;
    badCrc[packed.size() - 3] ^= 0x01;
    Bytes noHeader = packed;
    noHeader[3] = '0';
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"cut in a block", Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2))},
        {"cut in the trailer", Bytes(packed.begin(), packed.end() - 1)},
        {"corrupt block", corrupt},
        {"wrong stream CRC", badCrc},
        {"trailing byte", Joined(packed, Bytes{0})},
        {"second stream", Joined(packed, Compress(TextBytes(10)))},
        {"bad header", noHeader},
        {"not bzip2", TextBytes(100000)},
        {"nothing", {}},
    };
    for (const auto& [name, bytes] : cases) EXPECT_FALSE(DecodeParallel(bytes, 2).Decoded) << name;
}
