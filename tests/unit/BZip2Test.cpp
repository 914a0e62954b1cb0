#include "formats/BZip2.h"

#include "BZip2TestData.h"

#include "base/Exceptions.h"
#include "base/MemoryStream.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

using namespace orvex;
using namespace orvex::test;

namespace {

void ExpectInvalidOperation(const std::function<void()>& action) {
    ExpectError<EBZDecompressionError>(action, "Invalid stream operation");
}

Bytes Decode(const Bytes& packed) {
    TMemoryStream source(packed);
    TBZDecompressionStream stream(source);
    return ReadAll(stream);
}

}  // namespace

TEST(BZDecompressionStream, DecodesTheReferenceSamples) {
    for (const char* name : {"sample1", "sample2", "sample3"}) {
        const std::string base = std::string(ORVEX_BZIP2_SAMPLES) + "/" + name;
        TFileStream source(base + ".bz2", FileMode::OpenRead);
        TBZDecompressionStream stream(source);
        const Bytes decoded = ReadAll(stream);
        EXPECT_EQ(decoded, ReadFile(base + ".ref")) << name;
        EXPECT_EQ(stream.Seek(0, SeekOrigin::Current), static_cast<int64_t>(decoded.size()));
        uint8_t more;
        EXPECT_EQ(stream.Read(&more, 1), 0u) << "a finished stream stays finished";
    }
}

TEST(BZDecompressionStream, ReportsUndecodableInputWithTheLibraryCode) {
    const Bytes data = TextBytes(200000);
    const Bytes packed = Compress(data);

    const std::string html = "<html><body>404 Not Found</body></html>";
    ExpectBZipError([&] { Decode(Bytes(html.begin(), html.end())); }, BZ_DATA_ERROR_MAGIC);

    Bytes damaged = packed;
    damaged[damaged.size() / 2] ^= 0x55;
    ExpectBZipError([&] { Decode(damaged); }, BZ_DATA_ERROR);

    // Data cut anywhere inside the stream, even just before the end marker, is not a shorter file.
    for (const std::size_t length : {std::size_t{4}, packed.size() / 2, packed.size() - 1}) {
        ExpectBZipError([&] { Decode(Bytes(packed.begin(), packed.begin() + length)); }, BZ_UNEXPECTED_EOF);
    }
}

TEST(BZDecompressionStream, DecodesTheFirstOfTwoJoinedStreamsThenRefusesTheRest) {
    const Bytes first = TextBytes(70000);
    TMemoryStream source(Joined(Compress(first), Compress(TextBytes(500))));
    TBZDecompressionStream stream(source);
    Bytes decoded(first.size());
    stream.ReadBuffer(decoded.data(), decoded.size());
    EXPECT_EQ(decoded, first);
    uint8_t more[16];
    ExpectBZipError([&] { stream.Read(more, sizeof more); }, BZ_SEQUENCE_ERROR);
}

TEST(BZDecompressionStream, FollowsTheSourceBackWhenSomeoneElseMovedIt) {
    const Bytes data = RandomBytes(200000, 3);
    TMemoryStream source(Compress(data));
    TBZDecompressionStream stream(source);
    Bytes decoded(100000);
    stream.ReadBuffer(decoded.data(), 50000);
    source.SetPosition(7);
    stream.ReadBuffer(decoded.data() + 50000, 50000);
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), data.begin()));
}

TEST(BZDecompressionStream, SeeksByRestartingOrSkippingForwardOnly) {
    const Bytes data = RandomBytes(30000, 7);
    TMemoryStream source(Compress(data));
    TBZDecompressionStream stream(source);
    uint8_t piece[100];
    const auto nextBytesAre = [&](std::size_t at) {
        stream.ReadBuffer(piece, sizeof piece);
        return std::equal(piece, piece + sizeof piece, data.begin() + static_cast<std::ptrdiff_t>(at));
    };

    EXPECT_TRUE(nextBytesAre(0));
    EXPECT_EQ(stream.Seek(0, SeekOrigin::Current), 100);
    EXPECT_EQ(stream.Seek(0, SeekOrigin::Beginning), 0);
    EXPECT_EQ(stream.Seek(0, SeekOrigin::Current), 0);
    EXPECT_TRUE(nextBytesAre(0)) << "a restart yields the first bytes again";

    EXPECT_EQ(stream.Seek(5000, SeekOrigin::Current), 5100);
    EXPECT_TRUE(nextBytesAre(5100));
    EXPECT_EQ(stream.Seek(12345, SeekOrigin::Beginning), 12345);
    EXPECT_TRUE(nextBytesAre(12345));
    EXPECT_EQ(stream.GetPosition(), 12445);

    ExpectInvalidOperation([&] { stream.Seek(12445, SeekOrigin::Beginning); });
    ExpectInvalidOperation([&] { stream.Seek(100, SeekOrigin::Beginning); });
    ExpectInvalidOperation([&] { stream.Seek(-1, SeekOrigin::Beginning); });
    ExpectInvalidOperation([&] { stream.Seek(-1, SeekOrigin::Current); });
    ExpectInvalidOperation([&] { stream.Seek(0, SeekOrigin::End); });
    ExpectInvalidOperation([&] { stream.GetSize(); });
    ExpectInvalidOperation([&] { stream.Write(piece, 1); });
    EXPECT_EQ(stream.GetPosition(), 12445) << "a refused seek moves nothing";
    EXPECT_TRUE(nextBytesAre(12445));

    EXPECT_THROW(stream.Seek(30001, SeekOrigin::Beginning), EReadError);
}

