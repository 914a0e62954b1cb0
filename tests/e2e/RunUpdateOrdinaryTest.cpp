// Everyday update runs: revisions, mirrors, gauges, backups and full checks, and what a run keeps
// when a copy is missing, damaged or held open or the server cannot be reached.
#include "RunUpdateFixture.h"
#include "BrokenServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

TEST_F(RunUpdateTest, OrdinaryRunWithNewerRevisionInstallsEverySetAndRecordsIt) {
    MakeClient();
    Publish(3);
    // The player's own files named like the updater's downloads are not the updater's to remove.
    Put(Under(FInstall, "data\\a.txt.bz2"), "the player's");
    Put(Under(FInstall, "data\\notes.orvex-part"), "the player's");
    Run(0);
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt.bz2")), "the player's");
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\notes.orvex-part")), "the player's");
    fs::remove(Under(FInstall, "data\\a.txt.bz2"));
    fs::remove(Under(FInstall, "data\\notes.orvex-part"));
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
        bool MirrorServedList;
    };
    const std::vector<Case> cases = {
        {"main server down", dead, dead + "mirror/ " + mirror, true, true},
        {"main server lacks a copy", FUrl, mirror, true, false},
        {"main server lacks a copy, mirror down", FUrl, dead, false, false},
    };
    for (const Case& c : cases) {
        InstallOldVersions();
        FUrlOverride = c.Main;
        FMirrors = c.Mirrors;
        FView = RecordingView();
        Run(0);
        EXPECT_EQ(FStatus, c.Whole ? "All the files have been updated" : "Update Failed") << c.Name;
        // A run that cannot fetch every file installs none of them.
        for (const char* path : {"game.exe", "data\\sub dir\\b.bin", "data\\a.txt"})
            EXPECT_EQ(Same(path), c.Whole) << c.Name << ": " << path;
        // The unsigned list's notice, the mirror that served the list, and for the failed copy one
        // line for each server.
        EXPECT_EQ(FView.Notices.size(), c.Whole ? 1u + c.MirrorServedList : 3u) << c.Name << testing::PrintToString(FView.Notices);
        if (c.MirrorServedList) {
            EXPECT_EQ(FView.Notices.back(), "The update list was served by the mirror " + mirror + "/") << c.Name;
        }
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
    // Nothing is installed; the first file waits, staged, for the next run.
    EXPECT_FALSE(fs::exists(Under(FInstall, "first.txt")));
    EXPECT_EQ(ReadWholeFile(Staged("first.txt")), "first");
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "second.drop")), "old second");
    EXPECT_FALSE(fs::exists(Under(FInstall, "third.txt")));
    EXPECT_TRUE(FView.SawStatus("Downloading second.drop"));
    EXPECT_FALSE(FView.SawStatus("Extracting second.drop"));
    EXPECT_FALSE(FView.SawStatus("Downloading third.txt"));
    EXPECT_EQ(FFetched.Failed, 1);
    EXPECT_EQ(FFetched.NotTried, 1) << "third.txt";
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
    EXPECT_FALSE(fs::exists(Under(FInstall, "first.txt")) || fs::exists(Under(FInstall, "third.txt")));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "second.txt")), "old second");
    EXPECT_EQ(ReadWholeFile(Staged("third.txt")), "third");
    EXPECT_TRUE(FView.SawStatus("Extracting second.txt"));
    EXPECT_TRUE(FView.Saw("total:3"));
    EXPECT_EQ(FView.TotalGauge.Progress(), 0);
    EXPECT_TRUE(FView.SavedRevisions.empty());
    ExpectButtonsBack();
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
    // Nothing is replaced while one file cannot be; all of them wait, staged, for the next run.
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "old a");
    EXPECT_TRUE(StagedOnly("game.exe") && StagedOnly("data\\sub dir\\b.bin") && StagedOnly("data\\a.txt"));
    EXPECT_TRUE(FView.SawStatus("Extracting data\\a.txt"));
    ExpectNoLeftovers();
}

TEST_F(RunUpdateTest, EqualRevisionComparesOnlyCriticalFilesUntilAFullCheckCompletes) {
    MakeClient();
    Publish(5);
    InstallOldVersions();
    Run(5);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("game.exe"));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "old a");
    EXPECT_TRUE(FView.SavedRevisions.empty());

    // A full check cut short (a copy missing on the server) is carried on by the next ordinary runs
    // until one completes it; then they compare the critical files only again.
    const std::string copy = ReadWholeFile(Under(FServer, "data\\a.txt.bz2"));
    fs::remove(Under(FServer, "data\\a.txt.bz2"));
    Run(5, true);
    EXPECT_EQ(FStatus, "Update Failed");
    Put(Under(FServer, "data\\a.txt.bz2"), copy);
    FView = RecordingView();
    Run(5);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("data\\a.txt"));
    EXPECT_TRUE(Same("data\\sub dir\\b.bin"));
    EXPECT_TRUE(FView.SavedRevisions.empty());
    Put(Under(FInstall, "data\\a.txt"), "changed by the player");
    Run(5);
    EXPECT_EQ(FStatus, "");
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

TEST_F(RunUpdateTest, AFailedRunCommitsNothingAndItsRetryFetchesOnlyWhatWasNotStaged) {
    MakeClient();
    Publish(4);
    InstallOldVersions();
    Put(Under(FInstall, "backup\\stale.txt"), "from an earlier revision");
    const std::string missing = ReadWholeFile(Under(FServer, "data\\a.txt.bz2"));
    fs::remove(Under(FServer, "data\\a.txt.bz2"));
    Run(1, false, 1);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(FView.Notices, (std::vector<std::string>{"The update list is not signed: no UpdateKey in the settings",
                                                       FUrl + "data/a.txt.bz2: HTTP status 404, not retried"}));
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "game.exe")), "old game");
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "old a");
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\sub dir\\b.bin")), "old b");
    // A failed update is repeated by the next ordinary run instead of being recorded as reached.
    EXPECT_TRUE(FView.SavedRevisions.empty());
    EXPECT_TRUE(fs::exists(Under(FInstall, "backup\\stale.txt")));
    ExpectButtonsBack();
    ExpectNoLeftovers();

    // The retry takes what the failed run staged: the copies it fetched are not asked for again.
    Put(Under(FServer, "data\\a.txt.bz2"), missing);
    fs::remove(Under(FServer, "game.exe.bz2"));
    fs::remove(Under(FServer, "data\\sub dir\\b.bin.bz2"));
    FView = RecordingView();
    Run(1, false, 1);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("game.exe") && Same("data\\a.txt") && Same("data\\sub dir\\b.bin"));
    EXPECT_EQ(FView.SavedRevisions, std::vector<std::string>{"4"});
    // The backup is the revision's: every file it replaced, the earlier revision's gone.
    EXPECT_FALSE(fs::exists(Under(FInstall, "backup\\stale.txt")));
    for (const auto& [path, old] : {std::pair{"game.exe", "old game"}, {"data\\a.txt", "old a"}, {"data\\sub dir\\b.bin", "old b"}})
        EXPECT_EQ(ReadWholeFile(Under(FInstall, std::string("backup\\") + path)), old) << path;
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
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "game.exe")), "old game");
    EXPECT_TRUE(FView.SavedRevisions.empty());
    ExpectNoLeftovers();
}

// A publish between the list and its copies: the copies no longer match the list the run holds, so
// it asks for the list once more and starts over on the new one, once.
TEST_F(RunUpdateTest, APublishDuringTheRunIsFollowedOnceToItsNewList) {
    MakeClient();
    Publish(4);
    InstallOldVersions();
    FLimits.Threads = 1;  // no copy is fetched ahead of its turn
    std::vector<std::pair<std::string, int32_t>> publishes;  // at the first copy of each pass, in turn
    bool passBegun = false;
    FView.OnEvent = [&](const std::string& event) {
        if (event == "status:Checking files") passBegun = true;
        if (!passBegun || !event.starts_with("status:Downloading ") || event == "status:Downloading updates list")
            return;
        passBegun = false;
        if (publishes.empty()) return;
        MakeClient(publishes.front().first);
        Publish(publishes.front().second);
        publishes.erase(publishes.begin());
    };
    const std::string restarted = "The update list changed on the server during the update; it starts again with the new list";

    publishes = {{"v3", 5}};
    Run(1);
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(Same("game.exe") && Same("data\\a.txt") && Same("data\\sub dir\\b.bin"));
    EXPECT_EQ(FView.SavedRevisions, std::vector<std::string>{"5"});
    EXPECT_EQ(std::count(FView.Notices.begin(), FView.Notices.end(), restarted), 1);
    ExpectNoLeftovers();

    // A publish in each pass: the second pass fails as any failed run does, with nothing committed.
    auto hook = FView.OnEvent;
    FView = RecordingView();
    FView.OnEvent = hook;
    MakeClient("v4");
    Publish(6);
    publishes = {{"v5", 7}, {"v6", 8}};
    Run(5);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\a.txt")), "text of a v3");
    EXPECT_TRUE(FView.SavedRevisions.empty());
    EXPECT_EQ(std::count(FView.Notices.begin(), FView.Notices.end(), restarted), 1);
    ExpectButtonsBack();
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

TEST_F(RunUpdateTest, RefusedRevisionWriteEndsWithUpdateFailed) {
    MakeClient();
    Publish(2);
    FView.FailRevisionWrite = true;
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_EQ(FView.SavedRevisions, std::vector<std::string>{"2"});
    ExpectButtonsBack();
}

}  // namespace
