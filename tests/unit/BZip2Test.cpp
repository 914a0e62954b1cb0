#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "base/Os.h"
#include "formats/BZip2.h"
#include "formats/Unpack.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace orvex;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(const Bytes& data, int blockSize100k = 9) {
    Bytes packed(data.size() + data.size() / 100 + 600);
    auto length = static_cast<unsigned>(packed.size());
    const int result = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(packed.data()), &length,
                                                const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                                static_cast<unsigned>(data.size()), blockSize100k, 0, 0);
    EXPECT_EQ(result, BZ_OK);
    packed.resize(length);
    return packed;
}

Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(generator() >> 24);
    return bytes;
}

Bytes TextBytes(std::size_t size) {
    static const std::string words[] = {"update ", "client ", "revision ", "files.lst ", "| ", "md5\r\n", "0123 "};
    Bytes bytes;
    for (std::size_t i = 0; bytes.size() < size; i = i * 7 + 3)
        for (char c : words[i % 7]) bytes.push_back(static_cast<uint8_t>(c));
    bytes.resize(size);
    return bytes;
}

Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes ReadAll(TStream& stream) {
    Bytes result;
    uint8_t piece[10000];
    while (const std::size_t got = stream.Read(piece, sizeof piece)) result.insert(result.end(), piece, piece + got);
    return result;
}

Bytes ReadFile(const std::string& name) {
    TFileStream file(name, FileMode::OpenRead);
    return ReadAll(file);
}

void WriteFile(const std::string& name, const Bytes& bytes) {
    TFileStream file(name, FileMode::Create);
    file.WriteBuffer(bytes.data(), bytes.size());
}

template <typename Error>
void ExpectError(const std::function<void()>& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no error, expected \"" << message << "\"";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

void ExpectBZipError(const std::function<void()>& action, int code) {
    ExpectError<EBZDecompressionError>(action, "error " + std::to_string(code));
}

void ExpectInvalidOperation(const std::function<void()>& action) {
    ExpectError<EBZDecompressionError>(action, "Invalid stream operation");
}

Bytes Decode(const Bytes& packed) {
    TMemoryStream source(packed);
    TBZDecompressionStream stream(source);
    return ReadAll(stream);
}

struct RecordingObserver : IUnpackObserver {
    std::vector<std::string> Events;
    void UnpackStarted(TStream& packed) override { Events.push_back("max " + std::to_string(packed.GetSize())); }
    void UnpackProgress(TStream& packed) override {
        const std::string event = "at " + std::to_string(packed.GetPosition());
        if (Events.empty() || Events.back() != event) Events.push_back(event);
    }
    void UnpackFinished() override { Events.push_back("finished"); }
};

// A folder of its own for each file test, relative to the current one so it works under Wine too.
class UnpackFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        FDir = std::string("bzip2_test_") + info->name();
        std::filesystem::remove_all(os::NativePath(FDir));
        ASSERT_TRUE(os::ForceDirectories(FDir));
    }
    void TearDown() override { std::filesystem::remove_all(os::NativePath(FDir)); }

    std::string Path(const std::string& name) const { return FDir + "\\" + name; }

    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(os::NativePath(FDir)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Unpacks packed over a previous target and checks what every failure must leave behind.
    void ExpectFailedUnpackKeepsTarget(const Bytes& packed, int code) {
        const Bytes previous = TextBytes(3000);
        WriteFile(Path("files.lst"), previous);
        WriteFile(Path("files.lst.bz2"), packed);
        RecordingObserver observer;
        ExpectBZipError([&] { UnpackBZip2File(Path("files.lst.bz2"), Path("files.lst"), &observer); }, code);
        EXPECT_EQ(ReadFile(Path("files.lst")), previous);
        EXPECT_EQ(Listing(), std::vector<std::string>{"files.lst"});
        ASSERT_FALSE(observer.Events.empty());
        EXPECT_EQ(observer.Events.back(), "finished");
    }

    std::string FDir;
};

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

TEST_F(UnpackFileTest, EmptyFileGivesEmptyTarget) {
    WriteFile(Path("files.lst"), TextBytes(10));
    WriteFile(Path("files.lst.bz2"), {});
    RecordingObserver observer;
    UnpackBZip2File(Path("files.lst.bz2"), Path("files.lst"), &observer);
    EXPECT_EQ(os::FileSize(Path("files.lst")), 0);
    EXPECT_EQ(Listing(), std::vector<std::string>{"files.lst"});
    EXPECT_EQ(observer.Events, (std::vector<std::string>{"max 0", "finished"}));
}

TEST_F(UnpackFileTest, ReplacesTheTargetWithTheDecodedFile) {
    const Bytes data = Joined(TextBytes(300000), RandomBytes(100000, 1));
    WriteFile(Path("game.dat"), TextBytes(10));
    WriteFile(Path("game.dat.bz2"), Compress(data));
    UnpackBZip2File(Path("game.dat.bz2"), Path("game.dat"), nullptr);
    EXPECT_EQ(ReadFile(Path("game.dat")), data);
    EXPECT_EQ(Listing(), std::vector<std::string>{"game.dat"});

    WriteFile(Path("new.bz2"), Compress(data));
    UnpackBZip2File(Path("new.bz2"), Path("new"), nullptr);
    EXPECT_EQ(ReadFile(Path("new")), data);
}

TEST_F(UnpackFileTest, FailuresKeepThePreviousTargetAndRemoveTheDownload) {
    const std::string html = "<html><head><title>Error</title></head><body>Not Found</body></html>\r\n";
    ExpectFailedUnpackKeepsTarget(Bytes(html.begin(), html.end()), BZ_DATA_ERROR_MAGIC);
    ExpectFailedUnpackKeepsTarget(Joined(Compress(TextBytes(100000)), Compress(TextBytes(10))), BZ_SEQUENCE_ERROR);
    const Bytes packed = Compress(RandomBytes(100000, 2));
    ExpectFailedUnpackKeepsTarget(Bytes(packed.begin(), packed.end() - 20), BZ_UNEXPECTED_EOF);
}

TEST_F(UnpackFileTest, FileErrorsPassAfterCleaningUp) {
    EXPECT_THROW(UnpackBZip2File(Path("missing.bz2"), Path("missing"), nullptr), EFOpenError);

    WriteFile(Path("a.bz2"), Compress(TextBytes(1000)));
    EXPECT_THROW(UnpackBZip2File(Path("a.bz2"), Path("no such folder\\a"), nullptr), EFCreateError);
    EXPECT_TRUE(Listing().empty()) << "the download is deleted once it was opened";

    // Decoded completely but the result cannot take the target's place.
    ASSERT_TRUE(os::ForceDirectories(Path("busy\\inside")));
    WriteFile(Path("busy.bz2"), Compress(TextBytes(1000)));
    EXPECT_THROW(UnpackBZip2File(Path("busy.bz2"), Path("busy"), nullptr), EFCreateError);
    EXPECT_EQ(Listing(), std::vector<std::string>{"busy"});
    EXPECT_TRUE(os::DirectoryExists(Path("busy\\inside")));
}

TEST(UnpackStream, ReportsProgressByTheCompressedInputTakenIn) {
    // Random data barely compresses; this length of it compresses to exactly 150,000 bytes.
    const Bytes data = RandomBytes(148921, 11);
    const Bytes packed = Compress(data);
    ASSERT_EQ(packed.size(), 150000u);

    TMemoryStream source(packed);
    TMemoryStream target;
    RecordingObserver observer;
    UnpackBZip2Stream(source, target, &observer);
    EXPECT_EQ(target.Bytes(), data);
    EXPECT_EQ(observer.Events, (std::vector<std::string>{"max 150000", "at 65536", "at 131072", "at 150000", "finished"}));
}

TEST(UnpackStream, ReportsTheEndAlsoWhenTheTargetRefusesToWrite) {
    struct FullDisk : TStream {
        std::size_t Read(void*, std::size_t) override { return 0; }
        std::size_t Write(const void*, std::size_t) override { return 0; }
        int64_t Seek(int64_t, SeekOrigin) override { return 0; }
    };
    TMemoryStream source(Compress(TextBytes(1000)));
    FullDisk target;
    RecordingObserver observer;
    EXPECT_THROW(UnpackBZip2Stream(source, target, &observer), EWriteError);
    EXPECT_EQ(observer.Events.back(), "finished");
}
