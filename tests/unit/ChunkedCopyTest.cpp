#include "common/RandomBytes.h"
#include "common/ScratchFolder.h"

#include "base/Disk.h"
#include "formats/encode/ZstdCompress.h"
#include "formats/md5.h"
#include "update/ChunkedCopy.h"
#include "update/Limits.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace orvex;
using namespace orvex::test;

// A file built from chunks keeps the volume's reserve: one that does not fit beyond it is refused
// before its first chunk, one the disk stops taking ends part way; and no chunk decodes to more
// than the index gives it.
TEST(ChunkedCopy, BuildingKeepsTheReserveAndEachChunkWithinItsIndexedSize) {
    ScratchFolder folder;
    // 32 MiB of one chunk, fetched once and written 32 times.
    const std::string chunk = RandomBytes(MiB, 7);
    const std::vector<uint8_t> frame = ZstdCompress(BytesOf(chunk), chunk.size());
    const std::string zeros(2 * MiB, '\0');
    const std::vector<uint8_t> bomb = ZstdCompress(BytesOf(zeros), zeros.size());
    TChunkedFile file;
    TSha256 whole;
    MD5_CTX wholeMd5{};
    MD5Init(wholeMd5);
    for (uint64_t offset = 0; offset < 32 * MiB; offset += MiB) {
        file.Chunks.push_back({Sha256(BytesOf(chunk), chunk.size()), offset, static_cast<uint32_t>(MiB),
                               static_cast<uint32_t>(frame.size())});
        whole.Update(BytesOf(chunk), chunk.size());
        detail::MD5UpdateLarge(wholeMd5, BytesOf(chunk), chunk.size());
    }
    file.Size = 32 * MiB;
    file.Hash = whole.Final();
    MD5Digest expected{};
    MD5Final(wholeMd5, expected);
    const TChunkSources sources = FindChunkSources(file, {}, folder.File("no old file"));
    ASSERT_EQ(sources.ToFetch.size(), 1u);

    struct Case {
        const char* Name;
        uint64_t Beyond;  // free space beyond the reserve when building starts
        uint64_t Filler;  // what something else writes once the first chunk is fetched
        const std::vector<uint8_t>& Frame;
        const char* Outcome;
    };
    const Case cases[] = {
        {"room for the file", 100 * MiB, 0, frame, "built"},
        {"the file does not fit", 16 * MiB, 0, frame, "no room before any chunk"},
        {"the disk fills while building", 44 * MiB, 44 * MiB, frame, "no room part way"},
        {"a chunk decoding beyond its size", 100 * MiB, 0, bomb, "chunk refused"},
    };
    for (const Case& c : cases) {
        const std::optional<uint64_t> free = os::FreeSpace(folder.Dir());
        ASSERT_TRUE(free.has_value());
        ASSERT_GT(*free, 1024 * MiB);
        TUnpackLimits room;
        room.Volume = folder.File("built");
        room.FreeSpaceReserve = *free - c.Beyond;
        int fetched = 0;
        std::string outcome;
        try {
            CheckRoomToBuild(file, room);
            const MD5Digest md5 = AssembleChunkedFile(
                file, sources, "", folder.File("built"),
                [&](const TChunkRef&) {
                    if (++fetched == 1 && c.Filler) folder.Write("filler", std::string(c.Filler, 'f'));
                    return c.Frame;
                },
                room);
            outcome = md5 == expected ? "built" : "other bytes";
        } catch (const EUnpackLimit&) {
            outcome = fetched == 0 ? "no room before any chunk" : "no room part way";
        } catch (const Exception& error) {
            outcome = std::string(error.what()).find("does not unpack") != std::string::npos ? "chunk refused" : error.what();
        }
        EXPECT_EQ(outcome, c.Outcome) << c.Name;
        std::filesystem::remove(folder.Path() / "filler");
        std::filesystem::remove(folder.Path() / "built");
    }
}
