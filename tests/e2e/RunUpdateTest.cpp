// Whole update runs against the test web server, natively (libcurl) and under Wine (WinINet).
#include "common/CurrentDirGuard.h"
#include "BrokenServer.h"
#include "Support.h"
#include "common/ScratchFolder.h"
#include "common/RecordingView.h"

#include "base/Disk.h"
#include "base/MemoryStream.h"
#include "base/Os.h"
#include "tools/publish/BZ2Compressor.h"
#include "tools/publish/ServerFolder.h"
#include "formats/ChunkIndex.h"
#include "formats/Minisign.h"
#include "common/RandomBytes.h"
#include "formats/md5.h"
#include "update/Dispatcher.h"
#include "update/GetFilesThr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <random>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

fs::path FreshFolder(const std::string& path) {
    std::string native = os::NativePath(path);
    while (!native.empty() && (native.back() == '/' || native.back() == '\\')) native.pop_back();
    std::error_code error;
    fs::remove_all(native, error);
    fs::create_directories(native);
    return fs::path(native);
}

void Put(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    WriteWholeFile(file, content);
}

// List paths use "\"; the file system here takes "/" on every platform.
fs::path Under(const fs::path& root, const std::string& listPath) {
    std::string generic = listPath;
    for (char& c : generic)
        if (c == '\\') c = '/';
    return root / generic;
}

class RunUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        FServer = FreshFolder(WwwDir() + "run-" + name);
        FUrl = ServerUrl() + "run-" + name + "/";
        FGuard = std::make_unique<CurrentDirGuard>(FInstall);
    }
    void TearDown() override { FGuard.reset(); }

    // A client of three files: one critical, two normal in sub-folders.
    void MakeClient(const std::string& flavour = "v2") {
        Put(Under(FClient, "game.exe"), "game program " + flavour + std::string(3000, 'g'));
        Put(Under(FClient, "data\\a.txt"), "text of a " + flavour);
        Put(Under(FClient, "data\\sub dir\\b.bin"), flavour + std::string(70000, '\x7f') + flavour);
        FDescription.CriticalFiles = {"game.exe"};
        FDescription.NormalFiles = {"data\\a.txt", "data\\sub dir\\b.bin"};
    }

    void Publish(int32_t rev) {
        FDescription.Rev = rev;
        BuildServerFolder(FClient.string(), FServer.string(), FDescription);
    }

    // The installation as the client had it before: every file in its old version.
    void InstallOldVersions() {
        Put(Under(FInstall, "game.exe"), "old game");
        Put(Under(FInstall, "data\\a.txt"), "old a");
        Put(Under(FInstall, "data\\sub dir\\b.bin"), "old b");
    }

    void Run(int32_t atRevision, bool fullCheck = false, int32_t createBackup = 0) {
        HeadlessDispatcher dispatcher;
        TRunSettings settings;
        settings.UpdatesUrl = FUrlOverride.empty() ? FUrl : FUrlOverride;
        settings.Mirrors = FMirrors;
        settings.AtRevision = atRevision;
        settings.FullCheck = fullCheck;
        settings.CreateBackup = createBackup;
        settings.UpdateKey = FUpdateKey;
        settings.ListSeq = FListSeq;
        settings.HostsFolder = FHosts.string();
        settings.SelfUpdate = FSelfUpdate;
        settings.Launcher = FLauncher;
        settings.Limits = FLimits;
        GFilesThread run(dispatcher, FView, settings);
        run.RunUpdate();
        FStatus = run.Status();
        FFetched = run.Fetched();
    }

    bool Same(const std::string& listPath) const {
        return fs::exists(Under(FInstall, listPath)) && ReadWholeFile(Under(FInstall, listPath)) == ReadWholeFile(Under(FClient, listPath));
    }

    // Nothing of the run's own is left behind in the installation.
    void ExpectNoLeftovers() const {
        for (const auto& entry : fs::recursive_directory_iterator(FInstall)) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".bz2"), std::string::npos) << entry.path();
            EXPECT_EQ(name.find(os::TempSuffix), std::string::npos) << entry.path();
            EXPECT_NE(name, "files.lst") << entry.path();
        }
    }

    void ExpectButtonsBack() const {
        ASSERT_FALSE(FView.Events.empty());
        EXPECT_EQ(FView.Events.front(), "lock");
        EXPECT_EQ(FView.Events.back(), "unlock");
    }

    ScratchFolder FInstallFolder, FClientFolder, FHostsFolder;
    fs::path FInstall = FInstallFolder.Path(), FClient = FClientFolder.Path(), FHosts = FHostsFolder.Path(), FServer;
    std::string FUrl, FUrlOverride, FMirrors, FStatus, FUpdateKey, FListSeq;
    GFilesThread::TFetchSummary FFetched;
    TPublishDescription FDescription;
    SelfUpdateMode FSelfUpdate = SelfUpdateMode::ReplaceDirectly;
    TLauncherProcess FLauncher;
    // Failed downloads are tried again at once: the tests' servers fail on purpose.
    TRunLimits FLimits = [] {
        TRunLimits limits;
        limits.Retry.FirstWait = limits.Retry.MaxWait = std::chrono::milliseconds(1);
        return limits;
    }();
    RecordingView FView;
    std::unique_ptr<CurrentDirGuard> FGuard;
};

TEST_F(RunUpdateTest, OrdinaryRunWithNewerRevisionInstallsEverySetAndRecordsIt) {
    MakeClient();
    Publish(3);
    Run(0);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("game.exe"));
    EXPECT_TRUE(Same("data\\a.txt"));
    EXPECT_TRUE(Same("data\\sub dir\\b.bin"));
    EXPECT_EQ(FView.SavedRevisions, std::vector<std::string>{"3"});
    ExpectButtonsBack();
    ExpectNoLeftovers();
    EXPECT_EQ(FView.TotalGauge.Progress(), 0);
    EXPECT_EQ(FView.FileGauge.Progress(), 0);
    EXPECT_TRUE(FView.SawStatus("Downloading data\\sub dir\\b.bin"));
    EXPECT_TRUE(FView.SawStatus("Extracting data\\a.txt"));
    // Three files to fetch: the overall bar runs 0..2 and counts finished files.
    EXPECT_TRUE(FView.Saw("max1:2"));
    EXPECT_TRUE(FView.Saw("total:3"));

    // Everything current now: nothing to fetch, nothing recorded, an empty status line.
    FView = RecordingView();
    Run(3);
    EXPECT_EQ(FStatus, "");
    EXPECT_TRUE(FView.SavedRevisions.empty());
    EXPECT_FALSE(FView.SawStatus("Checking data\\a.txt"));
    EXPECT_TRUE(FView.SawStatus("Checking game.exe"));
    ExpectButtonsBack();
}

// Events from position at up to (not including) the first that starts with prefix.
std::vector<std::string> EventsUntil(const std::vector<std::string>& events, std::size_t& at, const std::string& prefix) {
    std::vector<std::string> taken;
    while (at < events.size() && events[at].rfind(prefix, 0) != 0) taken.push_back(events[at++]);
    return taken;
}

// File-bar positions: counting up from the start and ending at 0 once the file is through; the
// highest position is the number of bytes.
void ExpectFileProgressUpTo(const std::vector<std::string>& events, int64_t bytes, const std::string& what) {
    ASSERT_FALSE(events.empty()) << what;
    int64_t last = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(events[i].rfind("file:", 0), 0u) << what << ": " << events[i];
        const int64_t position = std::stoll(events[i].substr(5));
        if (i + 1 == events.size()) {
            EXPECT_EQ(position, 0) << what;
        } else {
            EXPECT_GE(position, last) << what;
            last = position;
        }
    }
    EXPECT_EQ(last, bytes) << what;
}

// A main server that is down, or that lacks a copy, leaves the work to the mirrors; a mirror
// address without its final "/" is taken as a folder. A copy no server has fails its entry alone.
TEST_F(RunUpdateTest, MirrorsServeWhatTheMainServerCannot) {
    MakeClient();
    Publish(3);
    const fs::path copy = FServer.string() + "-mirror";
    fs::remove_all(copy);
    fs::copy(FServer, copy, fs::copy_options::recursive);
    fs::remove(FServer / "data" / "a.txt.bz2");
    const std::string mirror = FUrl.substr(0, FUrl.size() - 1) + "-mirror";
    const std::string dead = "http://127.0.0.1:1/";
    struct Case {
        const char* Name;
        std::string Main;
        std::string Mirrors;
        bool Whole;  // every file installed
    };
    const std::vector<Case> cases = {
        {"main server down", dead, dead + "mirror/ " + mirror, true},
        {"main server lacks a copy", FUrl, mirror, true},
        {"main server lacks a copy, mirror down", FUrl, dead, false},
    };
    for (const Case& c : cases) {
        InstallOldVersions();
        FUrlOverride = c.Main;
        FMirrors = c.Mirrors;
        FView = RecordingView();
        Run(0);
        EXPECT_EQ(FStatus, c.Whole ? "All the files have been updated" : "Update Failed") << c.Name;
        EXPECT_TRUE(Same("game.exe") && Same("data\\sub dir\\b.bin")) << c.Name;
        EXPECT_EQ(Same("data\\a.txt"), c.Whole) << c.Name;
        // The unsigned list's notice, and for the failed copy one line for each server.
        EXPECT_EQ(FView.Notices.size(), c.Whole ? 1u : 3u) << c.Name << testing::PrintToString(FView.Notices);
        ExpectNoLeftovers();
    }
}

TEST_F(RunUpdateTest, GaugesFollowEachPhaseOfTheRun) {
    MakeClient();
    Publish(1);
    const int64_t listSize = static_cast<int64_t>(fs::file_size(FServer / "files.lst.bz2"));
    Run(0);
    ASSERT_EQ(FStatus, "All the files have been updated");
    const auto& events = FView.Events;
    std::size_t at = 0;
    EventsUntil(events, at, "status:Downloading updates list");
    ASSERT_LT(++at, events.size());

    // The list download: received bytes on the file bar, nothing else.
    ExpectFileProgressUpTo(EventsUntil(events, at, "status:"), listSize, "list download");
    ASSERT_LT(at, events.size());
    EXPECT_EQ(events[at++], "status:");
    // Its unpacking: the compressed list's size as maximum, then the bytes consumed.
    ASSERT_LT(at, events.size());
    EXPECT_EQ(events[at++], "max0:" + std::to_string(listSize));
    ExpectFileProgressUpTo(EventsUntil(events, at, "status:Checking files"), listSize, "list unpacking");

    // Comparing: one critical file, then two normal ones.
    EXPECT_EQ(EventsUntil(events, at, "max1:"), std::vector<std::string>{"status:Checking files"});
    EXPECT_EQ(events[at], "max1:0");
    ++at;
    EventsUntil(events, at, "max1:");
    EXPECT_EQ(events[at], "max1:1");
    ++at;

    // Fetching three files: the overall bar runs 0..2 and counts finished files; the file bar is
    // scaled to each copy's size for its download and again for its unpacking.
    EventsUntil(events, at, "max1:");
    ASSERT_LT(at, events.size());
    EXPECT_EQ(events[at++], "max1:2");
    const std::vector<std::string> paths{"game.exe", "data\\a.txt", "data\\sub dir\\b.bin"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string size = std::to_string(fs::file_size(Under(FServer, paths[i] + ".bz2")));
        ASSERT_LT(at + 1, events.size());
        EXPECT_EQ(events[at++], "status:Downloading " + paths[i]);
        EXPECT_EQ(events[at++], "max0:" + size);
        ExpectFileProgressUpTo(EventsUntil(events, at, "status:"), std::stoll(size), paths[i] + " download");
        ASSERT_LT(at + 1, events.size());
        EXPECT_EQ(events[at++], "status:Extracting " + paths[i]);
        EXPECT_EQ(events[at++], "max0:" + size);
        ExpectFileProgressUpTo(EventsUntil(events, at, "total:"), std::stoll(size), paths[i] + " unpacking");
        ASSERT_LT(at, events.size());
        EXPECT_EQ(events[at++], "total:" + std::to_string(i + 1));
    }
    const std::vector<std::string> ending{"total:0", "save:1", "status:All the files have been updated", "unlock"};
    EXPECT_EQ(std::vector<std::string>(events.begin() + static_cast<std::ptrdiff_t>(std::min(at, events.size())), events.end()),
              ending);
}

// Three files to fetch, the second of which goes wrong on the server.
class ThreeFetchesTest : public RunUpdateTest {
protected:
    void MakeThree(const std::string& second) {
        Put(Under(FClient, "first.txt"), "first");
        Put(Under(FClient, second), "second");
        Put(Under(FClient, "third.txt"), "third");
        FDescription.CriticalFiles = {"first.txt", second, "third.txt"};
        Publish(1);
        Put(Under(FInstall, second), "old second");
    }
};

TEST_F(ThreeFetchesTest, SecondFailingToDownloadStopsThePass) {
    MakeThree("second.drop");  // the server sends any .drop.bz2 to a closed port
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_TRUE(Same("first.txt"));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "second.drop")), "old second");
    EXPECT_FALSE(fs::exists(Under(FInstall, "third.txt")));
    EXPECT_TRUE(FView.SawStatus("Downloading second.drop"));
    EXPECT_FALSE(FView.SawStatus("Extracting second.drop"));
    EXPECT_FALSE(FView.SawStatus("Downloading third.txt"));
    // The pass ends at once: the overall bar goes back to 0 without counting the second file.
    const auto& events = FView.Events;
    const auto failing = std::find(events.begin(), events.end(), "status:Downloading second.drop");
    ASSERT_NE(failing, events.end());
    EXPECT_EQ(*(failing - 1), "total:1");
    for (auto event = failing; event != events.end(); ++event)
        if (event->rfind("total:", 0) == 0) {
            EXPECT_EQ(*event, "total:0");
        }
    EXPECT_EQ(FView.TotalGauge.Progress(), 0);
    EXPECT_TRUE(FView.SavedRevisions.empty());
    ExpectButtonsBack();
    ExpectNoLeftovers();
}

TEST_F(ThreeFetchesTest, SecondFailingToUnpackStillFetchesTheThird) {
    MakeThree("second.txt");
    Put(Under(FServer, "second.txt.bz2"), "this is not a bzip2 stream");
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_TRUE(Same("first.txt"));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "second.txt")), "old second");
    EXPECT_TRUE(Same("third.txt"));
    EXPECT_TRUE(FView.SawStatus("Extracting second.txt"));
    EXPECT_TRUE(FView.Saw("total:3"));
    EXPECT_EQ(FView.TotalGauge.Progress(), 0);
    EXPECT_TRUE(FView.SavedRevisions.empty());
    ExpectButtonsBack();
    ExpectNoLeftovers();
}

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
        FView = RecordingView();
        FLimits.Threads = threads;
        Run(0, false, 1);
        EXPECT_EQ(FStatus, "Update Failed");
        for (const std::string& path : FDescription.NormalFiles)
            EXPECT_EQ(Same(path), path != "data\\f3.bin" && path != "data\\f6.bin" && path != "data\\f8.bin") << path;
        EXPECT_FALSE(fs::exists(Under(FInstall, "data\\f3.bin")));
        EXPECT_FALSE(fs::exists(Under(FInstall, "data\\f6.bin")));
        EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\f8.bin")), "old f8");
        EXPECT_EQ(ReadWholeFile(Under(FInstall, "backup\\data\\f7.bin")), "old f7");
        EXPECT_EQ(ReadWholeFile(Under(FInstall, "backup\\data\\f8.bin")), "old f8");
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
    EXPECT_TRUE(Same("data\\f1.bin"));
    EXPECT_FALSE(fs::exists(Under(FInstall, "data\\f2.bin")));
    ExpectNoLeftovers();
}

TEST_F(RunUpdateTest, FileHeldOpenByAnotherProcessFailsAndKeepsThePreviousFile) {
    MakeClient();
    Publish(2);
    InstallOldVersions();
    const auto holder = HoldOpenElsewhere(Under(FInstall, "data\\a.txt").string());
    if (!holder) GTEST_SKIP() << "an open file does not stop its replacement here";
    Run(1);
    EXPECT_EQ(FStatus, "Update Failed");
    ASSERT_EQ(FView.Notices.size(), 2u);
    const std::string& notice = FView.Notices.back();
    EXPECT_EQ(notice.rfind("Cannot create file \"", 0), 0u) << notice;
    EXPECT_NE(notice.find("a.txt\"."), std::string::npos) << notice;
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "old a");
    EXPECT_TRUE(Same("game.exe"));
    EXPECT_TRUE(Same("data\\sub dir\\b.bin"));
    EXPECT_TRUE(FView.SawStatus("Extracting data\\a.txt"));
    ExpectNoLeftovers();
}

TEST_F(RunUpdateTest, EqualRevisionComparesOnlyCriticalFilesUntilAFullCheck) {
    MakeClient();
    Publish(5);
    InstallOldVersions();
    Run(5);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("game.exe"));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "old a");
    EXPECT_TRUE(FView.SavedRevisions.empty());

    FView = RecordingView();
    Run(5, true);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("data\\a.txt"));
    EXPECT_TRUE(Same("data\\sub dir\\b.bin"));
    EXPECT_TRUE(FView.SavedRevisions.empty());
}

TEST_F(RunUpdateTest, FullCheckWithLowerRevisionRepairsButNeverLowersTheRevision) {
    MakeClient();
    Publish(3);
    InstallOldVersions();
    Run(10, true);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("data\\a.txt"));
    EXPECT_TRUE(FView.SavedRevisions.empty());
}

TEST_F(RunUpdateTest, BackupsEmptyTheFolderFirstAndKeepPreviousVersions) {
    MakeClient();
    Publish(2);
    InstallOldVersions();
    Put(Under(FInstall, "backup\\stale.txt"), "from an earlier run");
    Run(1, false, 1);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_FALSE(fs::exists(Under(FInstall, "backup\\stale.txt")));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "backup\\game.exe")), "old game");
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "backup\\data\\sub dir\\b.bin")), "old b");
    EXPECT_TRUE(Same("data\\sub dir\\b.bin"));
}

TEST_F(RunUpdateTest, MissingCopyAnsweredByAnErrorPageFailsAndKeepsThePreviousFile) {
    MakeClient();
    Publish(4);
    InstallOldVersions();
    fs::remove(Under(FServer, "data\\a.txt.bz2"));
    Run(1);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(FView.Notices, (std::vector<std::string>{"The update list is not signed: no UpdateKey in the settings",
                                                       FUrl + "data/a.txt.bz2: HTTP status 404, not retried"}));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "old a");
    EXPECT_TRUE(Same("game.exe"));
    EXPECT_TRUE(Same("data\\sub dir\\b.bin"));
    // A failed update is repeated by the next ordinary run instead of being recorded as reached.
    EXPECT_TRUE(FView.SavedRevisions.empty());
    ExpectButtonsBack();
    ExpectNoLeftovers();
}

TEST_F(RunUpdateTest, TruncatedAndWrongContentCopiesFailAndKeepThePreviousFiles) {
    MakeClient();
    Publish(4);
    InstallOldVersions();
    const std::string packed = ReadWholeFile(Under(FServer, "data\\sub dir\\b.bin.bz2"));
    Put(Under(FServer, "data\\sub dir\\b.bin.bz2"), packed.substr(0, packed.size() / 2));
    // A valid copy of other content: decodes fine but disagrees with the list.
    Put(Under(FClient, "other.txt"), "not the text of a");
    CompressFile(Under(FClient, "other.txt").string(), Under(FServer, "data\\a.txt.bz2").string());
    Run(1);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(FView.Notices, (std::vector<std::string>{
                                 "The update list is not signed: no UpdateKey in the settings",
                                 FUrl + "data/a.txt.bz2: the unpacked file does not match the update list, not retried",
                                 FUrl + "data/sub dir/b.bin.bz2: the copy does not unpack (bzip2 error -7), not retried",
                             }));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "old a");
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\sub dir\\b.bin")), "old b");
    EXPECT_TRUE(Same("game.exe"));
    EXPECT_TRUE(FView.SavedRevisions.empty());
    ExpectNoLeftovers();
}

TEST_F(RunUpdateTest, RedirectedUpdateAddressIsFollowed) {
    MakeClient();
    Publish(1);
    FUrlOverride = ServerUrl() + "redirect/run-RedirectedUpdateAddressIsFollowed";  // no "/": the run adds it
    Run(0);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("data\\a.txt"));
}

TEST_F(RunUpdateTest, UnreachableOrBrokenServerOrEmptyAddressFailsAndGivesTheButtonsBack) {
    Put(Under(FInstall, "files.lst"), "stale list of an interrupted run");
    FUrlOverride = "http://127.0.0.1:1/nothing/";
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_FALSE(fs::exists(Under(FInstall, "files.lst")));
    ExpectButtonsBack();

    // The server goes away in the middle of the list.
    BrokenServer broken("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'B'));
    FView = RecordingView();
    FUrlOverride = broken.Url("updates");
    Run(0);
    EXPECT_TRUE(broken.Served());
    EXPECT_EQ(FStatus, "Update Failed");
    ExpectButtonsBack();
    ExpectNoLeftovers();

    FView = RecordingView();
    FUrlOverride.clear();
    FUrl.clear();
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    ExpectButtonsBack();
}

// Publishes a hand-written list, for entries the publisher refuses to write.
void PublishList(const fs::path& client, const fs::path& server, const std::string& list) {
    Put(client / "files.lst", list);
    CompressFile((client / "files.lst").string(), (server / "files.lst.bz2").string());
}

TEST_F(RunUpdateTest, EntriesLeavingTheInstallationAreRefusedAndCountAsFailed) {
    Put(FClient / "evil.txt", "outside");
    const auto copy = CompressFile((FClient / "evil.txt").string(), (FServer / "evil.txt.bz2").string());
    const std::string md5 = DigestToHex(copy.SourceDigest);
    const std::string size = std::to_string(copy.Size);
    PublishList(FClient, FServer,
                "[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\n"
                "..\\evil.txt|" + md5 + "|" + size + "\r\n"
                "sub\\..\\..\\evil.txt|" + md5 + "|" + size + "\r\n"
                "\\evil.txt|" + md5 + "|" + size + "\r\n"
                "C:evil.txt|" + md5 + "|" + size + "\r\n"
                "evil.txt|" + md5 + "|" + size + "\r\n"
                "[/files_critical]\r\n");
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_FALSE(fs::exists(FInstall.parent_path() / "evil.txt"));
    EXPECT_EQ(ReadWholeFile(FInstall / "evil.txt"), "outside");  // the one harmless entry still arrives
    EXPECT_TRUE(FView.SavedRevisions.empty());
}

TEST_F(RunUpdateTest, MalformedListsEndWithUpdateFailedAndTheButtonsBack) {
    for (const std::string list : {"[settings]\r\nRev|x\r\nModHosts|0\r\n[/settings]\r\n",
                                   "[settings]\r\nRev|1\r\n[/settings]\r\n",
                                   "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\na.txt|-5\r\n[/files_critical]\r\n",
                                   "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\na.txt|0123|-5\r\n[/files_critical]\r\n",
                                   "[settings]\r\nRev|1\r\nModHosts|1\r\n[/settings]\r\n"}) {
        PublishList(FClient, FServer, list);
        FView = RecordingView();
        Run(0);
        EXPECT_EQ(FStatus, "Update Failed") << list;
        ExpectButtonsBack();
        EXPECT_TRUE(FView.SavedRevisions.empty());
    }

    // A list that does not decode: the downloaded copy goes too.
    Put(FServer / "files.lst.bz2", "this is not a bzip2 stream");
    FView = RecordingView();
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    ExpectButtonsBack();
    ExpectNoLeftovers();
}

TEST_F(RunUpdateTest, RefusedRevisionWriteEndsWithUpdateFailed) {
    MakeClient();
    Publish(2);
    FView.FailRevisionWrite = true;
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(FView.SavedRevisions, std::vector<std::string>{"2"});
    ExpectButtonsBack();
}

TEST_F(RunUpdateTest, HostEntriesAreMergedIntoTheHostsFileOnce) {
    MakeClient();
    FDescription.ModHosts = 1;
    FDescription.Hosts = {{"10.1.1.1", "login.talvora.test"}, {"10.2.2.2", "patch.talvora.test"}};
    Publish(1);
    Put(FHosts / "hosts", "127.0.0.1 localhost\r\n   10.9.9.9 login.talvora.test\r\n");
    Run(0);
    EXPECT_EQ(FStatus, "All the files have been updated");
    const std::string expected =
        "127.0.0.1 localhost\r\n#10.9.9.9 login.talvora.test\r\n#-------- Added by OrvexUpdater --------\r\n"
        "10.1.1.1\tlogin.talvora.test\r\n10.2.2.2\tpatch.talvora.test\r\n#-----------------\r\n";
    EXPECT_EQ(ReadWholeFile(FHosts / "hosts"), expected);
    EXPECT_TRUE(FView.SawStatus("Hosts file chamged"));

    FView = RecordingView();
    Run(1);
    EXPECT_EQ(ReadWholeFile(FHosts / "hosts"), expected);
    EXPECT_FALSE(FView.SawStatus("Hosts file chamged"));

    // hosts.msn, when present, takes the changes instead.
    Put(FHosts / "hosts.msn", "");
    Run(1);
    EXPECT_EQ(ReadWholeFile(FHosts / "hosts"), expected);
    EXPECT_NE(ReadWholeFile(FHosts / "hosts.msn").find("10.2.2.2\tpatch.talvora.test"), std::string::npos);
}

TEST_F(RunUpdateTest, UnreadableHostsFileEndsWithUpdateFailed) {
    MakeClient();
    FDescription.ModHosts = 1;
    FDescription.Hosts = {{"10.1.1.1", "login.talvora.test"}};
    Publish(1);
    fs::create_directories(FHosts / "hosts");  // a folder where the file should be
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    ExpectButtonsBack();
    EXPECT_TRUE(FView.SavedRevisions.empty());
}

TEST_F(RunUpdateTest, DifferingLauncherIsReplacedThroughTheVerifiedNewFile) {
    MakeClient();
    Put(FClient / "Launcher.exe", "new launcher build");
    FDescription.SelfName = "Launcher.exe";
    Publish(1);
    Put(FInstall / "Launcher.exe", "old launcher build");
    Run(1);
    EXPECT_EQ(ReadWholeFile(FInstall / "Launcher.exe"), "new launcher build");
    EXPECT_FALSE(fs::exists(FInstall / "Launcher.exe.New"));
    EXPECT_FALSE(fs::exists(FInstall / "Update.bat"));
}

TEST_F(RunUpdateTest, UnsafeLauncherNameIsNeverFetchedNorWrittenIntoTheBatchFile) {
    Put(FClient / "x.exe", "new launcher");
    const auto copy = CompressFile((FClient / "x.exe").string(), (FServer / "a&b.exe.bz2").string());
    PublishList(FClient, FServer,
                "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[self]\r\na&b.exe|" + DigestToHex(copy.SourceDigest) +
                    "|" + std::to_string(copy.Size) + "\r\n[/self]\r\n");
    FSelfUpdate = SelfUpdateMode::BatchFile;
    Run(0);
    EXPECT_FALSE(fs::exists(FInstall / "a&b.exe.New"));
    EXPECT_FALSE(fs::exists(FInstall / "a&b.exe.bz2"));
    EXPECT_FALSE(fs::exists(FInstall / "Update.bat"));
}

#ifndef _WIN32
// Here a batch file cannot start at all: it goes with the new launcher it would have swapped in,
// so that no later start swaps it unasked.
TEST_F(RunUpdateTest, BatchFileThatDoesNotStartGoesWithTheNewLauncher) {
    MakeClient();
    Put(FClient / "Launcher.exe", "new launcher build");
    FDescription.SelfName = "Launcher.exe";
    Publish(1);
    Put(FInstall / "Launcher.exe", "old launcher build");
    FSelfUpdate = SelfUpdateMode::BatchFile;
    FLauncher = {"launcher.EXE", 4242};
    Run(1);
    EXPECT_EQ(ReadWholeFile(FInstall / "Launcher.exe"), "old launcher build");
    EXPECT_FALSE(fs::exists(FInstall / "Launcher.exe.New"));
    EXPECT_FALSE(fs::exists(FInstall / "Update.bat"));
    ASSERT_EQ(FView.Notices.size(), 2u);  // the first says that the list is not signed
    EXPECT_NE(FView.Notices[1].find("Update.bat did not start"), std::string::npos) << FView.Notices[1];
}
#endif

// --- a hostile server ----------------------------------------------------------------------------

// A bzip2 stream of size zero bytes: a few hundred bytes that unpack to far more.
std::string ZerosBomb(std::size_t size) {
    TMemoryStream packed;
    TBZ2Compressor compressor(packed);
    const std::string zeros(1024 * 1024, '\0');
    for (std::size_t done = 0; done < size; done += zeros.size()) compressor.Write(zeros.data(), zeros.size());
    compressor.Finish();
    return std::string(packed.Bytes().begin(), packed.Bytes().end());
}


// Whole runs against a server that misbehaves in one way. The limits are short, so the suite is
// quick; ORVEX_E2E_DEFAULT_LIMITS=1 runs it with the shipped ones, to time them.
class HostileServerTest : public RunUpdateTest {
protected:
    void SetUp() override {
        RunUpdateTest::SetUp();
        if (!std::getenv("ORVEX_E2E_DEFAULT_LIMITS")) {
            FLimits.Transfer.Answer = std::chrono::milliseconds(1500);
            FLimits.Transfer.Stall = std::chrono::milliseconds(1500);
            FLimits.Transfer.SpeedPeriod = std::chrono::milliseconds(2000);
            FLimits.Transfer.MinBytesPerSecond = 100;
            FLimits.MaxPackedList = MiB;
            FLimits.MaxListText = MiB;
        }
        // One try: each case is about how the watch ends one transfer.
        FLimits.Retry.Tries = 1;
        // Installing a copy takes good.txt first, then bad.bin, whose copy the cases spoil.
        Put(FClient / "good.txt", "good " + std::string(2000, 'g'));
        Put(FClient / "bad.bin", "bad " + std::string(3000, 'b'));
        FDescription.CriticalFiles = {"good.txt", "bad.bin"};
        Publish(1);
        for (const std::string name : {"files.lst.bz2", "good.txt.bz2", "bad.bin.bz2"})
            FHostile.Serve(name, Behaviour::Body, ReadWholeFile(FServer / name));
        Put(FInstall / "bad.bin", "old bad");
        FUrlOverride = FHostile.Url("");
    }

    // Runs the update; the seconds it took.
    double TimedRun() {
        const auto start = std::chrono::steady_clock::now();
        Run(0);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "[ time     ] " << ::testing::UnitTest::GetInstance()->current_test_info()->name() << ": "
                  << seconds << " s to \"" << FStatus << "\"\n";
        return seconds;
    }

    // The run failed in time, kept the previous bad.bin and left nothing of its own behind.
    void ExpectFailedWithin(double seconds, double bound) {
        EXPECT_EQ(FStatus, "Update Failed");
        EXPECT_LT(seconds, bound);
        EXPECT_EQ(ReadWholeFile(FInstall / "bad.bin"), "old bad");
        EXPECT_TRUE(FView.SavedRevisions.empty());
        ExpectButtonsBack();
        ExpectNoLeftovers();
    }

    // Short limits end a case in seconds; the shipped ones in under two minutes.
    double Bound() const { return std::getenv("ORVEX_E2E_DEFAULT_LIMITS") ? 120 : 20; }

    BrokenServer FHostile;
};

struct HostileCase {
    const char* Name;
    const char* Path;  // what the server spoils: the list or bad.bin's copy
    Behaviour How;
};

class HostileTransferTest : public HostileServerTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileTransferTest, EveryTransferEndsAndTheRunFails) {
    const HostileCase& spoilt = GetParam();
    FHostile.Serve(spoilt.Path, spoilt.How);
    const double seconds = TimedRun();
    ExpectFailedWithin(seconds, Bound());
    if (spoilt.How == Behaviour::RedirectToItself) {
        EXPECT_LE(FHostile.Requests(spoilt.Path), FLimits.Transfer.MaxRedirects + 1);
    }
    if (std::string(spoilt.Path) != PackedListName) {
        EXPECT_TRUE(Same("good.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileTransferTest,
    ::testing::Values(HostileCase{"ListNeverAnswers", PackedListName, Behaviour::NeverAnswer},
                      HostileCase{"ListStopsAfterHeaders", PackedListName, Behaviour::StopAfterHeaders},
                      HostileCase{"ListTrickles", PackedListName, Behaviour::Trickle},
                      HostileCase{"ListIsEndless", PackedListName, Behaviour::EndlessBody},
                      HostileCase{"ListRedirectsToItself", PackedListName, Behaviour::RedirectToItself},
                      HostileCase{"CopyNeverAnswers", "bad.bin.bz2", Behaviour::NeverAnswer},
                      HostileCase{"CopyTrickles", "bad.bin.bz2", Behaviour::Trickle},
                      HostileCase{"CopyIsEndless", "bad.bin.bz2", Behaviour::EndlessBody},
                      HostileCase{"CopyRedirectsToItself", "bad.bin.bz2", Behaviour::RedirectToItself}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.Name); });

TEST_F(HostileServerTest, BombsStopAtTheListCapAndBeforeTheDiskReserve) {
    // A copy of the listed size that unpacks to 128 MiB; the run may leave only 48 MiB of the free
    // space it found.
    const std::string bomb = ZerosBomb(128 * MiB);
    ASSERT_LT(bomb.size(), 2000u);
    const auto copy = CompressFile((FClient / "bad.bin").string(), (FServer / "bad.bin.bz2").string());
    std::string list = ReadWholeFile(FServer / "files.lst");
    const std::string listed = "|" + std::to_string(copy.Size) + "\r\n";
    const auto at = list.find("bad.bin|");
    ASSERT_NE(at, std::string::npos);
    list.replace(list.find(listed, at), listed.size(), "|" + std::to_string(bomb.size()) + "\r\n");
    PublishList(FClient, FServer, list);
    FHostile.Serve(PackedListName, Behaviour::Body, ReadWholeFile(FServer / "files.lst.bz2"));
    FHostile.Serve("bad.bin.bz2", Behaviour::Body, bomb);
    const std::optional<uint64_t> free = os::FreeSpace(FInstall.string());
    ASSERT_TRUE(free.has_value());
    ASSERT_GT(*free, 1024 * MiB);
    FLimits.FreeSpaceReserve = *free - 48 * MiB;
    ExpectFailedWithin(TimedRun(), Bound());
    EXPECT_TRUE(Same("good.txt"));
    EXPECT_TRUE(FView.SawStatus("Extracting bad.bin"));

    // The list itself: its text may not pass the cap.
    FView = RecordingView();
    FLimits.MaxListText = MiB;
    FHostile.Serve(PackedListName, Behaviour::Body, ZerosBomb(2 * MiB));
    ExpectFailedWithin(TimedRun(), Bound());
    EXPECT_FALSE(FView.SawStatus("Checking files"));
}

// A list and a signature of two publishes, as a publish between the downloads leaves them: both
// are fetched once more, and only once.
TEST_F(HostileServerTest, AListNotMatchingItsSignatureIsFetchedOnceMore) {
    const auto key = minisign::GenerateKeyPair();
    const std::string packed = ReadWholeFile(FServer / "files.lst.bz2");
    const auto signature = [&](const std::string& data) {
        return minisign::Sign(key.Secret, data, minisign::FormatTrustedFields({1, 1, std::nullopt}));
    };
    FHostile.Serve("files.lst.bz2.minisig", Behaviour::Body, signature(packed + "another publish"));
    FUpdateKey = minisign::PublicKeyLine(key.Public);
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(FHostile.Requests("files.lst.bz2"), 2);
    EXPECT_EQ(FHostile.Requests("files.lst.bz2.minisig"), 2);
    EXPECT_EQ(ReadWholeFile(FInstall / "bad.bin"), "old bad");

    FHostile.Serve("files.lst.bz2.minisig", Behaviour::Body, signature(packed));
    FView = RecordingView();
    Run(0);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_EQ(FHostile.Requests("files.lst.bz2"), 3);
}

// A busy server and a cut transfer are tried again until the copy arrives; a missing copy is not,
// and a server busy for good is given up after the last try. Each failure says why.
TEST_F(HostileServerTest, PassingFailuresAreTriedAgainAndAMissingCopyIsNot) {
    struct Case {
        const char* Name;
        std::vector<Fault> Faults;  // none: the copy is missing
        int Requests;
        const char* Notice;  // nullptr: installed without one
    };
    const std::string copy = ReadWholeFile(FServer / "bad.bin.bz2");
    const Fault busy{Fault::Busy};
    const std::vector<Case> cases = {
        {"busy twice", {busy, busy}, 3, nullptr},
        {"cut once", {{Fault::Cut, copy.size() / 2}}, 2, nullptr},
        {"busy for good", std::vector<Fault>(9, busy), 3, "bad.bin.bz2: HTTP status 503, given up after 3 tries"},
        {"missing", {}, 1, "bad.bin.bz2: HTTP status 404, not retried"},
    };
    FLimits.Retry.Tries = 3;
    for (const Case& c : cases) {
        Put(FInstall / "bad.bin", "old bad");
        if (c.Faults.empty())
            FHostile.Serve("bad.bin.bz2", Behaviour::Reply, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        else
            FHostile.ServeFile("bad.bin.bz2", copy, c.Faults);
        const int before = FHostile.Requests("bad.bin.bz2");
        FView = RecordingView();
        Run(0);
        EXPECT_EQ(FHostile.Requests("bad.bin.bz2") - before, c.Requests) << c.Name;
        EXPECT_EQ(Same("bad.bin"), c.Notice == nullptr) << c.Name;
        EXPECT_EQ(FStatus, c.Notice ? "Update Failed" : "All the files have been updated") << c.Name;
        std::vector<std::string> notices{"The update list is not signed: no UpdateKey in the settings"};
        if (c.Notice) notices.push_back(FHostile.Url("") + c.Notice);
        EXPECT_EQ(FView.Notices, notices) << c.Name;
    }
}

// A client of 40 files from a server that fails every way a network does, each copy meeting up to
// two faults, one copy cut more often than there are tries: every file arrives whole, and the
// bytes sent twice stay within 64 KiB per cut.
TEST_F(RunUpdateTest, FortyFilesArriveWholeThroughEveryKindOfFault) {
    std::mt19937 random(20261207);
    const auto below = [&](std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random); };
    for (int i = 0; i < 40; ++i) {
        // The first on a link that breaks every 80 KiB: more cuts than tries.
        std::string content(i == 0 ? 1024 * 1024 : 32 * 1024 + below(480 * 1024), '\0');
        for (char& c : content) c = static_cast<char>(below(256));
        const std::string path = "data\\f" + std::to_string(i) + ".bin";
        Put(Under(FClient, path), content);
        FDescription.NormalFiles.push_back(path);
    }
    Publish(1);
    BrokenServer server;
    server.Serve(PackedListName, Behaviour::Body, ReadWholeFile(FServer / PackedListName));
    uint64_t copies = 0;
    int cuts = 0, faults = 0;
    for (const std::string& path : FDescription.NormalFiles) {
        const std::string copy = ReadWholeFile(Under(FServer, path + ".bz2"));
        copies += copy.size();
        std::vector<Fault> planned(path == FDescription.NormalFiles.front() ? 12 : below(3));
        for (Fault& fault : planned) {
            fault = path == FDescription.NormalFiles.front()
                        ? Fault{Fault::Cut, 80 * 1024}
                        : Fault{static_cast<Fault::Kind>(1 + below(Fault::NoValidator)), below(copy.size())};
            cuts += fault.What == Fault::Reset || fault.What == Fault::Cut || fault.What == Fault::Stall;
        }
        faults += static_cast<int>(planned.size());
        std::string address = path + ".bz2";
        std::replace(address.begin(), address.end(), '\\', '/');
        server.ServeFile(address, copy, planned);
    }
    FUrlOverride = server.Url("");
    FLimits.Transfer.Stall = std::chrono::milliseconds(300);
    Run(0, true);
    std::string notices;
    for (const std::string& notice : FView.Notices) notices += "\n" + notice;
    EXPECT_EQ(FStatus, "All the files have been updated") << notices;
    for (const std::string& path : FDescription.NormalFiles) EXPECT_TRUE(Same(path)) << path;
    ExpectNoLeftovers();
    server.Stop();
    const uint64_t useful = server.FileBytesSent() - server.FileBytesSentInVain();
    std::cout << "[ resume   ] " << faults << " faults, " << cuts << " cuts: " << server.FileBytesSent() << " bytes sent, "
              << server.FileBytesSentInVain() << " of them unusable, for copies of " << copies << " bytes\n";
    EXPECT_GE(useful, copies);
    EXPECT_LE(useful, copies + cuts * 64 * 1024);
}

// The shipped limits, on the wait a real server can cause: headers, then silence.
TEST_F(HostileServerTest, DefaultLimitsEndAStallWithinTwoMinutes) {
    FLimits = TRunLimits();
    FLimits.Retry.Tries = 1;
    FHostile.Serve(PackedListName, Behaviour::StopAfterHeaders);
    const double seconds = TimedRun();
    ExpectFailedWithin(seconds, 120);
    EXPECT_GE(seconds, 55);  // the stall limit ended it, not something sooner
}

// --- signed lists ---------------------------------------------------------------------------------

uint64_t UnixNow() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// Every file under root with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files[fs::relative(entry.path(), root).generic_string()] = entry.is_regular_file() ? ReadWholeFile(entry.path()) : "<dir>";
    return files;
}

class SignedListTest : public RunUpdateTest {
protected:
    // The list as published now, signed: the trusted comment names rev unless told otherwise.
    void Sign(const minisign::TKeyPair& key, uint64_t seq, std::optional<uint64_t> expires = std::nullopt,
              std::optional<uint64_t> signedRev = std::nullopt) {
        const std::string packed = ReadWholeFile(FServer / "files.lst.bz2");
        const minisign::TTrustedFields fields{signedRev.value_or(static_cast<uint64_t>(FDescription.Rev)), seq, expires};
        Put(FServer / "files.lst.bz2.minisig", minisign::Sign(key.Secret, packed, minisign::FormatTrustedFields(fields)));
    }
    // Publishes rev with a keys section naming keys, as build --next-key does.
    void PublishNaming(int32_t rev, const std::vector<minisign::TKeyPair>& keys) {
        for (const auto& key : keys) FDescription.NextKeys.push_back(key.Public);
        Publish(rev);
        FDescription.NextKeys.clear();
    }
    // Takes what the run recorded, as the launcher's settings would.
    void AdoptTrust() {
        ASSERT_FALSE(FView.SavedTrust.empty());
        FUpdateKey = FView.SavedTrust.back().first;
        FListSeq = FView.SavedTrust.back().second;
    }
    bool NoticeHas(const std::string& text) const {
        return std::any_of(FView.Notices.begin(), FView.Notices.end(),
                           [&](const std::string& notice) { return notice.find(text) != std::string::npos; });
    }

    minisign::TKeyPair FKey = minisign::GenerateKeyPair();
    minisign::TKeyPair FOtherKey = minisign::GenerateKeyPair();
};

struct Attack {
    const char* Name;
    std::function<void()> Prepare;  // on a published rev 2; the installation trusts seq 5
    const char* Notice;             // what the refusal says
};

// What a compromised network can hand the run: each refused before anything is written.
TEST_F(SignedListTest, ListsNotSignedByATrustedKeyForThisListAreRefusedUntouched) {
    const std::vector<Attack> attacks = {
        {"changed list, old signature",
         [this] { Sign(FKey, 6); PublishNaming(2, {FOtherKey}); }, "not a signature of this list"},
        {"another key", [this] { Sign(FOtherKey, 6); }, "not in UpdateKey"},
        {"replayed older list", [this] { Sign(FKey, 4); }, "lower than the last accepted, 5"},
        {"expired", [this] { Sign(FKey, 6, UnixNow() - 3600); }, "expired"},
        {"signature removed",
         [this] { Sign(FKey, 6); fs::remove(FServer / "files.lst.bz2.minisig"); },
         "files.lst.bz2.minisig could not be fetched"},
        {"signature of another list",
         [this] {
             Publish(3);
             Sign(FKey, 6);
             const std::string other = ReadWholeFile(FServer / "files.lst.bz2.minisig");
             Publish(2);
             Put(FServer / "files.lst.bz2.minisig", other);
         },
         "not a signature of this list"},
        {"signature naming another revision", [this] { Sign(FKey, 6, std::nullopt, 3); },
         "for revision 3, the list is revision 2"},
    };
    MakeClient();
    FDescription.ModHosts = 1;
    FDescription.Hosts = {{"10.1.1.1", "login.talvora.test"}};
    Put(FHosts / "hosts", "127.0.0.1 localhost\r\n");
    InstallOldVersions();
    Put(FInstall / "stale.txt", "a leftover the list would remove");
    const auto installed = Snapshot(FInstall);
    const auto hosts = Snapshot(FHosts);
    FUpdateKey = minisign::PublicKeyLine(FKey.Public);
    FListSeq = "5";
    for (const Attack& attack : attacks) {
        Publish(2);
        attack.Prepare();
        FView = RecordingView();
        Run(1);
        EXPECT_EQ(FStatus, "Update Failed") << attack.Name;
        EXPECT_TRUE(NoticeHas(attack.Notice)) << attack.Name << ": " << testing::PrintToString(FView.Notices);
        EXPECT_EQ(Snapshot(FInstall), installed) << attack.Name;
        EXPECT_EQ(Snapshot(FHosts), hosts) << attack.Name;
        EXPECT_TRUE(FView.SavedTrust.empty()) << attack.Name;
        EXPECT_TRUE(FView.SavedRevisions.empty()) << attack.Name;
        ExpectButtonsBack();
    }
}

TEST_F(SignedListTest, ASignedListUpdatesAndRecordsItsSequenceAndAnUnsignedOneOnlyWithoutAKey) {
    MakeClient();
    Publish(2);
    Sign(FKey, 6, UnixNow() + 3600);
    InstallOldVersions();
    FUpdateKey = minisign::PublicKeyLine(FKey.Public);
    FListSeq = "6";  // the same list again is no replay
    Run(1);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("game.exe") && Same("data\\a.txt") && Same("data\\sub dir\\b.bin"));
    EXPECT_EQ(FView.SavedTrust, (std::vector<std::pair<std::string, std::string>>{{FUpdateKey, "6"}}));
    EXPECT_TRUE(FView.Notices.empty()) << testing::PrintToString(FView.Notices);
    ExpectNoLeftovers();

    // Without a key the list is taken as it is, and the run says so.
    InstallOldVersions();
    fs::remove(FServer / "files.lst.bz2.minisig");
    FUpdateKey.clear();
    FView = RecordingView();
    Run(1);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("game.exe"));
    EXPECT_TRUE(FView.SavedTrust.empty());
    EXPECT_EQ(FView.Notices, std::vector<std::string>{"The update list is not signed: no UpdateKey in the settings"});
}

TEST_F(SignedListTest, AKeyNamedByATrustedListSignsTheNextOnesAlone) {
    MakeClient();
    FUpdateKey = minisign::PublicKeyLine(FKey.Public);
    const std::string bothKeys = FUpdateKey + " " + minisign::PublicKeyLine(FOtherKey.Public);

    Publish(1);
    Sign(FKey, 1);
    Run(0);
    ASSERT_EQ(FStatus, "All the files have been updated");
    EXPECT_EQ(FView.SavedTrust, (std::vector<std::pair<std::string, std::string>>{{FUpdateKey, "1"}}));
    AdoptTrust();

    // The old key names the new one; a key already trusted is not added twice.
    PublishNaming(2, {FKey, FOtherKey});
    Sign(FKey, 2);
    FView = RecordingView();
    Run(1);
    ASSERT_EQ(FStatus, "");
    EXPECT_EQ(FView.SavedTrust, (std::vector<std::pair<std::string, std::string>>{{bothKeys, "2"}}));
    AdoptTrust();

    MakeClient("v3");
    Publish(3);
    Sign(FOtherKey, 3);
    FView = RecordingView();
    Run(2);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("data\\a.txt"));
    EXPECT_EQ(FView.SavedTrust, (std::vector<std::pair<std::string, std::string>>{{bothKeys, "3"}}));
}

}  // namespace

// A server folder with a chunk store: each file is built from the chunks its previous version
// lacks, and anything wrong with the store falls back to the whole copy.
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
