// The fetch pass on several threads: the next copies download while one unpacks.
#include "RunUpdateFixture.h"

#include "common/RandomBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

// A pass of copies of every kind: large and small, one the server lacks, one that does not
// unpack, one old version on disk. The parallel pass (the next copy downloading while one
// unpacks) ends with the same files and the same reports as a pass of one thread; only the file
// bar's positions during a download depend on how the bytes happened to arrive.
class ParallelFetchTest : public RunUpdateTest {
protected:
    void MakeMixed() {
        for (int i = 0; i < 10; ++i) {
            const std::string path = "data\\f" + std::to_string(i) + ".bin";
            Put(Under(FClient, path), RandomBytes(i * 60000, 1000 + i) + std::string(i * 50000, 'z'));
            FDescription.NormalFiles.push_back(path);
        }
        Publish(1);
        fs::remove(Under(FServer, "data\\f3.bin.bz2"));
        Put(Under(FServer, "data\\f6.bin.bz2"), "this is not a bzip2 stream");
        // Unpacks well, to other bytes than the list's.
        Put(Under(FServer, "data\\f8.bin.bz2"), ReadWholeFile(Under(FServer, "data\\f2.bin.bz2")));
    }
    void InstallOldFiles() {
        for (const auto& entry : fs::directory_iterator(FInstall)) fs::remove_all(entry.path());
        Put(Under(FInstall, "data\\f7.bin"), "old f7");
        Put(Under(FInstall, "data\\f8.bin"), "old f8");
    }
    std::vector<std::string> ReportsBesidesTheFileBar() const {
        std::vector<std::string> reports;
        std::copy_if(FView.Events.begin(), FView.Events.end(), std::back_inserter(reports),
                     [](const std::string& event) { return event.rfind("file:", 0) != 0; });
        return reports;
    }
};

TEST_F(ParallelFetchTest, ReportsAndFilesAreThoseOfAOneThreadPass) {
    MakeMixed();
    std::vector<std::vector<std::string>> reports;
    for (const unsigned threads : {1u, 4u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        InstallOldFiles();
        fs::remove_all(Under(FInstall, StateFolderName));
        FView = RecordingView();
        FLimits.Threads = threads;
        Run(0, false, 1);
        EXPECT_EQ(FStatus, "Update Failed");
        // What arrived intact is staged; nothing is installed or backed up.
        for (const std::string& path : FDescription.NormalFiles) {
            const bool arrived = path != "data\\f3.bin" && path != "data\\f6.bin" && path != "data\\f8.bin";
            EXPECT_EQ(fs::exists(Staged(path)) && ReadWholeFile(Staged(path)) == ReadWholeFile(Under(FClient, path)), arrived)
                << path;
            EXPECT_FALSE(Same(path)) << path;
        }
        EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\f7.bin")), "old f7");
        EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\f8.bin")), "old f8");
        EXPECT_FALSE(fs::exists(Under(FInstall, "backup\\data\\f7.bin")));
        ExpectNoLeftovers();
        reports.push_back(ReportsBesidesTheFileBar());
    }
    EXPECT_EQ(reports[0], reports[1]);
}

TEST_F(ParallelFetchTest, APassEndingEarlyLeavesNoPrefetchedCopy) {
    MakeMixed();
    InstallOldFiles();
    FLimits.Threads = 4;
    // The window goes once f1 is in, while f2's copy downloads.
    FView.FailOn = "status:Downloading data\\f2.bin";
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(ReadWholeFile(Staged("data\\f1.bin")), ReadWholeFile(Under(FClient, "data\\f1.bin")));
    EXPECT_FALSE(fs::exists(Under(FInstall, "data\\f2.bin")) || fs::exists(Staged("data\\f2.bin")));
    ExpectNoLeftovers();
    for (const auto& entry : fs::recursive_directory_iterator(Staged(""))) {
        EXPECT_EQ(entry.path().filename().string().find(".bz2"), std::string::npos) << entry.path();
        EXPECT_EQ(entry.path().filename().string().find(os::TempSuffix), std::string::npos) << entry.path();
    }
}

}  // namespace
