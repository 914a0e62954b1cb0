// A server folder with a chunk store: each file is built from the chunks its previous version
// lacks, and anything wrong with the store falls back to the whole copy.
#include "RunUpdateFixture.h"

#include "common/RandomBytes.h"
#include "formats/ChunkIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

class ChunkedRunTest : public RunUpdateTest {
protected:
    // Publishes rev with data\big.dat holding big, and a chunk store.
    void PublishWithChunks(int32_t rev, const std::string& big) {
        Put(Under(FClient, "data\\big.dat"), big);
        Put(Under(FClient, "small.txt"), "small file of revision " + std::to_string(rev));
        FDescription.NormalFiles = {"data\\big.dat", "small.txt"};
        TPublishOptions options;
        options.Rev = rev;
        options.Chunks = true;
        PublishServerFolder(FClient.string(), FServer.string(), FDescription, options);
    }

    void ExpectBigBuiltFromChunks(uint64_t atMostDownloaded) {
        EXPECT_TRUE(Same("data\\big.dat"));
        EXPECT_TRUE(Same("small.txt"));
        const auto built = std::find_if(FFetched.Built.begin(), FFetched.Built.end(),
                                        [](const auto& file) { return file.Path == "data\\big.dat"; });
        ASSERT_NE(built, FFetched.Built.end());
        std::cout << "[ chunks   ] " << built->Reused << " bytes reused, " << built->Downloaded << " downloaded, whole copy "
                  << built->WholeCopy << "\n";
        EXPECT_LE(built->Downloaded, atMostDownloaded);
    }
};

// Installations at the revision before, and two before, the last: each file arrives whole and
// costs only the chunks it lacks, also with the whole copies gone from the server.
TEST_F(ChunkedRunTest, FilesAreBuiltFromTheChunksTheirPreviousVersionsLack) {
    const std::string v1 = RandomBytes(2 * MiB, 1);
    std::string v2 = v1;
    v2.replace(MiB, 1000, RandomBytes(1000, 2));            // a small change in the middle
    std::string v3 = v2.substr(0, 1536 * 1024) + RandomBytes(300 * 1024, 3) + v2.substr(1536 * 1024);  // grown
    struct Case {
        const char* Name;
        std::string Installed;  // the old big.dat; empty: none
        int32_t AtRevision;
        std::string Published;
        uint64_t AtMost;  // bytes downloaded for big.dat
    };
    const std::vector<Case> cases = {
        {"fresh installation", "", 0, v1, 3 * MiB},
        {"small change", v1, 1, v2, 512 * 1024},
        {"grown", v2, 2, v3, 900 * 1024},
        {"shrunk", v3, 3, v3.substr(300 * 1024, MiB), 300 * 1024},
        {"a part moved", v1, 1, v1.substr(0, 200 * 1024) + v1.substr(1536 * 1024) + v1.substr(200 * 1024, 1336 * 1024),
         400 * 1024},
        {"two revisions on", v1, 1, v3, 1200 * 1024},
    };
    int32_t rev = 0;
    for (const Case& c : cases) {
        PublishWithChunks(++rev, c.Published);
        for (const std::string path : {"data\\big.dat.bz2", "small.txt.bz2"}) fs::remove(Under(FServer, path));
        if (!c.Installed.empty()) Put(Under(FInstall, "data\\big.dat"), c.Installed);
        FView = RecordingView();
        Run(c.AtRevision);
        EXPECT_EQ(FStatus, "All the files have been updated") << c.Name;
        ExpectBigBuiltFromChunks(c.AtMost);
        ExpectNoLeftovers();
    }
}

// A store that cannot give a file: the file's whole copy is fetched, with a notice saying why.
TEST_F(ChunkedRunTest, TroubleWithTheStoreFallsBackToTheWholeCopy) {
    const std::string big = RandomBytes(MiB, 4);
    struct Case {
        const char* Name;
        std::function<void()> Spoil;
        const char* Notice;  // the start of the notice naming the trouble
    };
    const auto firstChunk = [&] {
        for (const auto& entry : fs::recursive_directory_iterator(FServer / ChunkStoreFolder))
            if (entry.is_regular_file()) return entry.path();
        return fs::path();
    };
    const std::vector<Case> cases = {
        {"chunk missing", [&] { fs::remove(firstChunk()); }, "\"data\\big.dat\" was not built from chunks ("},
        {"chunk of other content",
         [&] {
             std::string frame = ReadWholeFile(firstChunk());
             frame.back() = static_cast<char>(frame.back() ^ 1);
             Put(firstChunk(), frame);
         },
         "\"data\\big.dat\" was not built from chunks (chunk "},
        {"index not the one listed", [&] { Put(FServer / ChunkIndexName, ReadWholeFile(FServer / ChunkIndexName) + "x"); },
         "The chunk index was not used (it is not the one the list names)"},
    };
    int32_t rev = 0;
    for (const Case& c : cases) {
        fs::remove_all(FServer / ChunkStoreFolder);
        ++rev;
        PublishWithChunks(rev, big + std::to_string(rev));
        c.Spoil();
        Put(Under(FInstall, "data\\big.dat"), "old");
        FView = RecordingView();
        Run(rev - 1);
        EXPECT_EQ(FStatus, "All the files have been updated") << c.Name;
        EXPECT_TRUE(Same("data\\big.dat")) << c.Name;
        const bool told = std::any_of(FView.Notices.begin(), FView.Notices.end(),
                                      [&](const std::string& notice) { return notice.rfind(c.Notice, 0) == 0; });
        EXPECT_TRUE(told) << c.Name;
        ExpectNoLeftovers();
    }
}

}  // namespace
