#include "formats/Unpack.h"

#include "BZip2TestData.h"
#include "common/ScratchFolder.h"

#include "base/Disk.h"
#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "base/Os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

using namespace orvex;
using namespace orvex::test;

namespace {

struct RecordingObserver : IUnpackObserver {
    std::vector<std::string> Events;
    void UnpackStarted(uint64_t packedSize) override { Events.push_back("max " + std::to_string(packedSize)); }
    void UnpackProgress(uint64_t packedDone) override {
        const std::string event = "at " + std::to_string(packedDone);
        if (Events.empty() || Events.back() != event) Events.push_back(event);
    }
    void UnpackFinished() override { Events.push_back("finished"); }
};

class UnpackFileTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return FFolder.File(name); }

    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(FFolder.Path()))
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

    ScratchFolder FFolder;
};

}  // namespace

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

TEST_F(UnpackFileTest, StopsBeforeTheFreeSpaceFallsBelowTheReserveAndLeavesNoPartialFile) {
    constexpr uint64_t MiB = 1024 * 1024;
    const Bytes bomb = Compress(Bytes(40 * MiB, 0));
    ASSERT_LT(bomb.size(), 1000u);
    WriteFile(Path("bomb"), TextBytes(100));
    WriteFile(Path("bomb.bz2"), bomb);
    const std::optional<uint64_t> free = os::FreeSpace(Path("bomb"));
    ASSERT_TRUE(free.has_value());
    ASSERT_GT(*free, 512 * MiB);
    // Room for 12 MiB beyond the reserve: far less than the copy unpacks to.
    EXPECT_THROW(UnpackBZip2File(Path("bomb.bz2"), Path("bomb"), nullptr, *free - 12 * MiB), EUnpackLimit);
    EXPECT_EQ(ReadFile(Path("bomb")), TextBytes(100));
    EXPECT_EQ(Listing(), std::vector<std::string>{"bomb"});

    // A volume already below the reserve takes nothing at all.
    WriteFile(Path("small.bz2"), Compress(TextBytes(10)));
    EXPECT_THROW(UnpackBZip2File(Path("small.bz2"), Path("small"), nullptr, *free + 1024 * MiB), EUnpackLimit);
    EXPECT_EQ(Listing(), std::vector<std::string>{"bomb"});
}

TEST_F(UnpackFileTest, SeveralThreadsGiveTheBytesAndTheErrorsOfOne) {
    constexpr uint64_t MiB = 1024 * 1024;
    const Bytes data = Joined(RandomBytes(2200000, 21), TextBytes(600000));
    const Bytes packed = Compress(data);
    ASSERT_GT(packed.size(), ParallelUnpackMinimum);
    Bytes corrupt = packed;
    corrupt[packed.size() / 2] ^= 0x04;
    const Bytes runs = Compress(Joined(RandomBytes(2200000, 22), Bytes(20 * MiB, 0)));
    const Bytes previous = TextBytes(100);
    WriteFile(Path("game.dat"), previous);
    const std::optional<uint64_t> free = os::FreeSpace(Path("game.dat"));
    ASSERT_TRUE(free.has_value());
    ASSERT_GT(*free, 512 * MiB);
    struct Case {
        std::string Name;
        Bytes Packed;
        uint64_t Reserve = DefaultFreeSpaceReserve;
    };
    const std::vector<Case> cases = {
        {"whole", packed},
        {"cut", Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() * 2 / 3))},
        {"corrupt", corrupt},
        {"second stream", Joined(packed, Compress(TextBytes(10)))},
        {"beyond the free space", runs, *free - 12 * MiB},
    };
    for (const Case& c : cases) {
        std::string outcomes[2];
        for (const unsigned threads : {1u, 3u}) {
            std::string& outcome = outcomes[threads == 1 ? 0 : 1];
            WriteFile(Path("game.dat"), previous);
            WriteFile(Path("game.dat.bz2"), c.Packed);
            RecordingObserver observer;
            try {
                UnpackBZip2File(Path("game.dat.bz2"), Path("game.dat"), &observer, c.Reserve, threads);
                outcome = ReadFile(Path("game.dat")) == data ? "the original bytes" : "other bytes";
            } catch (const Exception& e) {
                // The free-space message names the temporary file, which differs from run to run.
                const std::string message = e.what();
                outcome = std::string(typeid(e).name()) + ": " + message.substr(0, message.find(" to unpack "));
                EXPECT_EQ(ReadFile(Path("game.dat")), previous) << c.Name;
            }
            EXPECT_EQ(Listing(), std::vector<std::string>{"game.dat"}) << c.Name;
            ASSERT_GE(observer.Events.size(), 2u) << c.Name;
            EXPECT_EQ(observer.Events.front(), "max " + std::to_string(c.Packed.size())) << c.Name;
            EXPECT_EQ(observer.Events.back(), "finished") << c.Name;
            uint64_t last = 0;
            for (std::size_t i = 1; i + 1 < observer.Events.size(); ++i) {
                const uint64_t at = std::stoull(observer.Events[i].substr(3));
                EXPECT_GE(at, last) << c.Name << ", " << threads << " threads: progress fell";
                last = at;
            }
            if (outcome == "the original bytes") {
                EXPECT_EQ(last, c.Packed.size()) << c.Name;
            }
        }
        EXPECT_EQ(outcomes[0], outcomes[1]) << c.Name;
        if (c.Name == "whole") {
            EXPECT_EQ(outcomes[1], "the original bytes");
        }
    }
}

TEST(UnpackStream, StopsAtTheLongestOutputAllowed) {
    for (const uint64_t longest : {uint64_t{99999}, uint64_t{100000}}) {
        TMemoryStream source(Compress(TextBytes(100000)));
        TMemoryStream target;
        TUnpackLimits limits;
        limits.MaxOutput = longest;
        if (longest < 100000) {
            EXPECT_THROW(UnpackBZip2Stream(source, target, nullptr, limits), EUnpackLimit);
            EXPECT_LE(target.Bytes().size(), longest);
        } else {
            UnpackBZip2Stream(source, target, nullptr, limits);
            EXPECT_EQ(target.Bytes(), TextBytes(100000));
        }
    }
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
