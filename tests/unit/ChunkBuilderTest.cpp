#include "common/RandomBytes.h"
#include "common/RecordingView.h"
#include "common/ScratchFolder.h"

#include "base/Disk.h"
#include "base/Os.h"
#include "formats/encode/ChunkIndexFile.h"
#include "formats/encode/ZstdCompress.h"
#include "formats/md5.h"
#include "update/ChunkBuilder.h"
#include "update/Dispatcher.h"
#include "update/RunReports.h"
#include "update/Servers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <optional>

using namespace orvex;
using namespace orvex::test;

namespace {

// The process's peak resident memory in KiB since the last reset (reset: made now); none where the
// system does not tell.
std::optional<uint64_t> PeakMemoryKiB(bool reset) {
    if (reset) {
        std::ofstream clear("/proc/self/clear_refs");
        if (!(clear << "5" << std::flush)) return std::nullopt;
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6));
    return std::nullopt;
}

}  // namespace

// The index is used only when it is the listed one, and one that is not is never decoded: a small
// frame of much text costs no memory. A file the disk has no room for beyond the reserve fails
// before any chunk is asked for, without its whole copy.
TEST(ChunkBuilder, DecodesOnlyTheListedIndexAndBuildsOnlyWhatTheDiskHasRoomFor) {
    ScratchFolder folder;
    const std::string content = RandomBytes(5000, 3);
    TChunkedFile file{"data\\big.dat", content.size(), Sha256(content.data(), content.size()), {}};
    const std::vector<uint8_t> frame = ZstdCompress(BytesOf(content), content.size());
    file.Chunks.push_back({file.Hash, 0, static_cast<uint32_t>(content.size()), static_cast<uint32_t>(frame.size())});
    TChunkIndex index;
    index.Files = {file};
    const std::vector<uint8_t> listed = FormatChunkIndex(index);
    const std::vector<uint8_t> other = [] {
        const std::string text(96 * MiB, '\n');
        return ZstdCompress(BytesOf(text), text.size());
    }();
    const std::optional<uint64_t> free = os::FreeSpace(folder.Dir());
    ASSERT_TRUE(free.has_value());

    struct Case {
        const char* Name;
        const std::vector<uint8_t>& Served;
        uint64_t Reserve;
        bool Build;
        std::optional<uint64_t> Size;  // the file's size the index gives
        const char* Notice;            // nullptr: none
    };
    const Case cases[] = {
        {"the listed index", listed, 0, false, content.size(), nullptr},
        {"another index", other, 0, false, std::nullopt,
         "The chunk index was not used (it is not the one the list names): copies are fetched whole"},
        {"no room for the file", listed, *free + 1024 * MiB, true, content.size(),
         "\"data\\big.dat\" was not built from chunks (Not enough free disk space to build "},
    };
    for (const Case& c : cases) {
        RecordingView view;
        HeadlessDispatcher dispatcher;
        TRunReports reports(dispatcher, view);
        TRunLimits limits;
        limits.FreeSpaceReserve = c.Reserve;
        limits.Threads = 1;
        // Nothing listens there: a chunk asked for would fail with a notice of its own.
        const TRetryLimits once{1, std::chrono::milliseconds(1), std::chrono::milliseconds(1)};
        TServers servers("http://127.0.0.1:9/", "", limits.Transfer, once);
        const auto download = [&](const std::string&, const std::string& fileName, uint64_t) {
            std::ofstream(os::NativePath(fileName), std::ios::binary)
                .write(reinterpret_cast<const char*>(c.Served.data()), static_cast<std::streamsize>(c.Served.size()));
            return true;
        };
        TChunkBuilder builder(servers, reports, download, limits);
        builder.UseIndex(folder.Dir() + "\\", DigestHex(Sha256(listed.data(), listed.size())));
        const std::optional<uint64_t> before = PeakMemoryKiB(true);
        EXPECT_EQ(builder.FileSize("data\\big.dat"), c.Size) << c.Name;
        if (const std::optional<uint64_t> peak = PeakMemoryKiB(false); before && peak)
            EXPECT_LT(*peak - *before, 32u * 1024) << c.Name << ": KiB more at the peak";
        else
            std::cout << "[ memory   ] the peak is not known here\n";
        if (c.Build) {
            const TListEntry entry{"data\\big.dat", DigestToHex(FileMD5(folder.Write("content", content))),
                                   std::to_string(frame.size()), 3};
            const auto built = builder.Build(entry, folder.File("data\\big.dat"), folder.File("staged"));
            EXPECT_TRUE(built.NoRoom) << c.Name;
            EXPECT_FALSE(built.Built) << c.Name;
        }
        ASSERT_EQ(view.Notices.size(), c.Notice ? 1u : 0u) << c.Name << ": " << testing::PrintToString(view.Notices);
        if (c.Notice) {
            EXPECT_EQ(view.Notices[0].rfind(c.Notice, 0), 0u) << view.Notices[0];
        }
    }
}
