// Listed paths that hold no regular file in the installation. Reading a FIFO waits for a writer
// for ever, so the run must never open one; Wine cannot make them, so this runs natively only.
#include "RunUpdateFixture.h"

#include "common/RandomBytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

// Watches FIFOs while a run goes on: one the run opens for reading is opened for writing here and
// closed, which lets the reader go on (to the end of an empty stream) and is remembered.
class FifoWatch {
public:
    explicit FifoWatch(std::vector<fs::path> fifos)
        : FFifos(std::move(fifos)), FThread([this](std::stop_token stop) { Watch(stop); }) {}
    bool Read() const { return FRead; }

private:
    void Watch(const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            for (const fs::path& fifo : FFifos) {
                if (!fs::is_fifo(fs::symlink_status(fifo))) continue;
                const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (writer < 0) continue;  // no reader
                FRead = true;
                ::close(writer);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::vector<fs::path> FFifos;
    std::atomic<bool> FRead{false};
    std::jthread FThread;
};

// A FIFO at a listed path and a link to one outside: the check, the scan of the previous version
// for chunks and the backup never read them, and the fetched files replace the entries themselves.
TEST_F(RunUpdateTest, AFifoOrALinkToOneAtAListedPathIsReplacedUnread) {
    Put(Under(FClient, "data\\big.dat"), RandomBytes(MiB, 5));
    Put(Under(FClient, "small.txt"), "small");
    FDescription.NormalFiles = {"data\\big.dat", "small.txt"};
    TPublishOptions options;
    options.Rev = 1;
    options.Chunks = true;
    PublishServerFolder(FClient.string(), FServer.string(), FDescription, options);
    ScratchFolder outside;
    const fs::path outsideFifo = outside.Path() / "fifo";
    ASSERT_EQ(::mkfifo(outsideFifo.c_str(), 0600), 0);
    struct Case {
        const char* Path;
        bool Link;  // to the FIFO outside
    };
    std::vector<fs::path> fifos{outsideFifo};
    for (const Case& c : {Case{"data\\big.dat", false}, Case{"small.txt", true}}) {
        const fs::path local = Under(FInstall, c.Path);
        fs::create_directories(local.parent_path());
        if (c.Link) {
            fs::create_symlink(outsideFifo, local);
        } else {
            ASSERT_EQ(::mkfifo(local.c_str(), 0600), 0);
            fifos.push_back(local);
        }
    }
    bool read = false;
    {
        const FifoWatch watch(fifos);
        Run(0, false, 1);
        read = watch.Read();
    }
    EXPECT_FALSE(read) << "the run opened a FIFO";
    EXPECT_EQ(FStatus, "All the files have been updated");
    for (const char* path : {"data\\big.dat", "small.txt"}) {
        EXPECT_TRUE(Same(path)) << path;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Under(FInstall, path)))) << path;
        EXPECT_FALSE(fs::exists(fs::symlink_status(Under(FInstall, std::string("backup\\") + path)))) << path;
    }
    EXPECT_TRUE(fs::is_fifo(outsideFifo)) << "replaced through the link";
    // Both built from chunks, with nothing taken from what stood at their places.
    ASSERT_EQ(FFetched.Built.size(), 2u);
    for (const auto& built : FFetched.Built) EXPECT_EQ(built.Reused, 0u) << built.Path;
}

}  // namespace
