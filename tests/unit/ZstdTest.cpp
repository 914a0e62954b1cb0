#include "common/RandomBytes.h"

#include "formats/Zstd.h"
#include "formats/encode/ZstdCompress.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <memory>

using namespace orvex;
using orvex::test::BytesOf;
using orvex::test::RandomBytes;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Compress(const std::string& data, int level = DefaultZstdLevel) {
    return ZstdCompress(BytesOf(data), data.size(), level);
}

TBytes Join(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A frame as a stream writes it: no content size, and without a size to go by, the window the
// parameters ask for.
TBytes StreamedFrame(const std::string& data, int windowLog = 0) {
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 0);
    if (windowLog) ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog);
    TBytes frame(ZSTD_compressBound(data.size()) + 64);
    ZSTD_outBuffer out{frame.data(), frame.size(), 0};
    // The first piece is not the end: the compressor cannot know the size.
    ZSTD_inBuffer first{data.data(), data.size() / 2, 0};
    ZSTD_compressStream2(context.get(), &out, &first, ZSTD_e_continue);
    ZSTD_inBuffer rest{data.data() + data.size() / 2, data.size() - data.size() / 2, 0};
    EXPECT_EQ(ZSTD_compressStream2(context.get(), &out, &rest, ZSTD_e_end), 0u);
    frame.resize(out.pos);
    return frame;
}

}  // namespace

TEST(Zstd, RoundTrips) {
    struct Case {
        const char* name;
        std::string data;
        int level;
    };
    const std::vector<Case> cases{
        {"empty", "", DefaultZstdLevel},
        {"random", RandomBytes(300'000, 1), DefaultZstdLevel},
        {"zeros, fastest", std::string(1'000'000, '\0'), ZSTD_minCLevel()},
        {"text, highest", std::string(200'000, 'q') + RandomBytes(1000, 2), HighestZstdLevel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TBytes frame = Compress(c.data, c.level);
        EXPECT_LE(frame.size(), ZstdCompressBound(c.data.size()));
        const TBytes back = ZstdDecompress(frame.data(), frame.size(), c.data.size(), c.data.size());
        EXPECT_EQ(std::string(back.begin(), back.end()), c.data);
        EXPECT_EQ(ZstdDecompress(frame.data(), frame.size(), std::nullopt, 1 << 20).size(), c.data.size());
    }
    EXPECT_THROW(Compress("x", HighestZstdLevel + 1), EZstdError);
}

TEST(Zstd, RefusesWithAReason) {
    const std::string data = RandomBytes(100'000, 3);
    const TBytes frame = Compress(data);
    const TBytes streamed = StreamedFrame(data);
    const TBytes bomb = StreamedFrame(std::string(20'000'000, '\0'));
    TBytes flipped = frame;
    flipped[flipped.size() / 2] ^= 0x40;
    struct Case {
        const char* name;
        TBytes frame;
        std::optional<std::size_t> expected;
        std::size_t cap;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"not zstd", TBytes(BytesOf(data), BytesOf(data) + 100), std::nullopt, 1 << 20, "not a zstd frame"},
        {"nothing", {}, std::nullopt, 1 << 20, "not a zstd frame"},
        {"cut short", TBytes(frame.begin(), frame.end() - 10), data.size(), data.size(), "cut short"},
        {"cut short, size unknown", TBytes(streamed.begin(), streamed.end() - 10), std::nullopt, 1 << 20, "cut short"},
        {"a byte changed", flipped, data.size(), data.size(), "zstd: decompressing"},
        {"data after the frame", Join(frame, {1, 2, 3}), data.size(), data.size(), "data follows"},
        {"a second frame", Join(frame, frame), data.size(), data.size(), "data follows"},
        {"claims a size other than expected", frame, data.size() - 1, data.size(), "expected"},
        {"claims more than the cap", frame, std::nullopt, data.size() - 1, "above the cap"},
        {"holds more than expected", streamed, data.size() - 1, data.size(), "holds more than"},
        {"holds less than expected", streamed, data.size() + 1, data.size() + 1, "expected"},
        {"a bomb", bomb, std::nullopt, 1 << 20, "holds more than 1048576 bytes"},
        {"expected above the cap", frame, data.size(), data.size() - 1, "above the cap"},
        {"a window above the limit", StreamedFrame(data, ZstdWindowLogLimit + 1), std::nullopt, 1 << 20, "zstd: decompressing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            const TBytes content = ZstdDecompress(c.frame.data(), c.frame.size(), c.expected, c.cap);
            ADD_FAILURE() << "taken, " << content.size() << " bytes";
        } catch (const EZstdError& error) {
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
    }
    // The same streamed frame within its limits is taken.
    EXPECT_EQ(ZstdDecompress(streamed.data(), streamed.size(), data.size(), data.size()).size(), data.size());
}
