// The pieces of an update run that need no web server: comparing a file set, starting a run on its
// own thread, and a list download that cannot connect.
#include "common/CurrentDirGuard.h"
#include "common/Md5Text.h"
#include "common/RecordingView.h"
#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "formats/md5.h"
#include "update/Dispatcher.h"
#include "update/GetFilesThr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace orvex;
using orvex::test::Md5Hex;
using orvex::test::RecordingView;
using orvex::test::ScratchFolder;

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

class CheckFilesTest : public ::testing::Test {
protected:
    CheckFilesTest() : FRun(FDispatcher, FView) {
        std::filesystem::create_directories(FFolder.Path() / "inst" / "data");
        FRun.SetBaseDir(FFolder.File("inst") + "\\");
    }
    void Local(const std::string& name, const std::string& content) { FFolder.Write("inst/" + name, content); }
    // A run in the installation with settings of its own.
    std::unique_ptr<GFilesThread> RunWith(TRunSettings settings) {
        auto run = std::make_unique<GFilesThread>(FDispatcher, FView, std::move(settings));
        run->SetBaseDir(FFolder.File("inst") + "\\");
        return run;
    }

    ScratchFolder FFolder;
    RecordingView FView;
    HeadlessDispatcher FDispatcher;
    GFilesThread FRun;
};

TEST_F(CheckFilesTest, CollectsMissingAndDifferingFilesWithTheOverallGaugeRunningOverTheSet) {
    Local("same.txt", "same");
    Local("data/changed.txt", "local version");
    const TStringList entries{"same.txt|" + Md5Hex("same") + "|4",
                              "data\\changed.txt|" + Md5Hex("server version") + "|14",
                              "data\\missing.txt|" + Md5Hex("x") + "|1"};
    FRun.CheckFiles(entries);
    EXPECT_EQ(FRun.FetchList(), (TStringList{entries[1], entries[2]}));
    const std::vector<std::string> expected{"status:Checking files", "max1:2",
                                            "total:0", "status:Checking same.txt",
                                            "total:1", "status:Checking data\\changed.txt",
                                            "total:2", "status:Checking data\\missing.txt",
                                            "total:0", "status:"};
    EXPECT_EQ(FView.Events, expected);
    EXPECT_EQ(FView.TotalGauge.MaxValue(), 2);
    EXPECT_EQ(FView.TotalGauge.Progress(), 0);

    // A second set appends after the first; one entry gives a maximum of 0.
    FView = RecordingView();
    FRun.CheckFiles({"data\\missing.txt|" + Md5Hex("x") + "|1"});
    EXPECT_EQ(FRun.FetchList().size(), 3u);
    EXPECT_EQ(FRun.FetchList().back(), "data\\missing.txt|" + Md5Hex("x") + "|1");
    EXPECT_TRUE(FView.Saw("max1:0"));
}

TEST_F(CheckFilesTest, AbsentOrEmptySetShowsNothingAndLeavesTheGaugesAlone) {
    FRun.CheckFiles({"FAIL"});
    FRun.CheckFiles({});
    EXPECT_TRUE(FView.Events.empty());
    EXPECT_TRUE(FRun.FetchList().empty());
}

TEST_F(CheckFilesTest, DigestAloneDecidesAndOnlyLowerCaseDigestsMatch) {
    Local("a.txt", "content of a");
    // The SIZE field is neither checked against the file nor needed to be a number when it matches.
    FRun.CheckFiles({"a.txt|" + Md5Hex("content of a") + "|999999", "a.txt|" + Md5Hex("content of a") + "|abc"});
    EXPECT_TRUE(FRun.FetchList().empty());

    const std::string upper = "a.txt|" + Upper(Md5Hex("content of a")) + "|12";
    FRun.CheckFiles({upper});
    FRun.CheckFiles({upper});
    EXPECT_EQ(FRun.FetchList(), (TStringList{upper, upper}));
}

TEST_F(CheckFilesTest, MalformedEntriesRaise) {
    Local("a.txt", "a");
    EXPECT_THROW(FRun.CheckFiles({Md5Hex("a") + "|1"}), EListError);
    EXPECT_THROW(FRun.CheckFiles({"missing.txt|" + Md5Hex("a") + "|many"}), EConvertError);
    EXPECT_TRUE(FRun.FetchList().empty());
}

TEST_F(CheckFilesTest, PathsLeavingTheInstallationAreCollectedWithoutComparingThem) {
    // A file outside the installation that would match: comparing it would leave it uncollected.
    FFolder.Write("outside.txt", "outside");
    const std::string entry = "..\\outside.txt|" + Md5Hex("outside") + "|7";
    FRun.CheckFiles({entry});
    EXPECT_EQ(FRun.FetchList(), TStringList{entry});
    EXPECT_TRUE(FView.SawStatus("Checking ..\\outside.txt"));
}

bool SawDownload(const RecordingView& view) {
    return std::any_of(view.Events.begin(), view.Events.end(),
                       [](const std::string& event) { return event.rfind("status:Downloading", 0) == 0 || event.rfind("file:", 0) == 0; });
}

TEST_F(CheckFilesTest, NamesTheListMayNotUseAreCollectedUnreadAndFailTheFetchPassWithTheirReason) {
    // Matching local files: compared, the entries would pass unnoticed.
    Local("_settings.ini", "[main]");
    Local("Launcher.exe", "running build");
    TRunSettings settings;
    settings.Launcher = TLauncherProcess{"Launcher.exe", 1};
    const auto run = RunWith(settings);
    const TStringList entries{"_settings.ini|" + Md5Hex("[main]") + "|6",
                              "launcher.EXE|" + Md5Hex("running build") + "|13",
                              "data\\NUL.txt|" + Md5Hex("x") + "|1",
                              "data\\" + std::string(300, 'n') + "|" + Md5Hex("x") + "|1"};
    run->CheckFiles(entries);
    EXPECT_EQ(run->FetchList(), entries);
    run->FetchFiles();
    EXPECT_EQ(run->Status(), SUpdateFailed);
    ASSERT_EQ(FView.Notices.size(), 4u);
    EXPECT_EQ(FView.Notices[0], "\"_settings.ini\" is the installation's own _settings.ini: left out");
    EXPECT_NE(FView.Notices[1].find("\"launcher.EXE\" is the launcher's own executable"), std::string::npos);
    EXPECT_NE(FView.Notices[2].find("device name"), std::string::npos);
    EXPECT_NE(FView.Notices[3].find("longer than 255"), std::string::npos);
    EXPECT_FALSE(SawDownload(FView));
    EXPECT_EQ(FFolder.Read("inst/_settings.ini"), "[main]");
}

struct CheckOutcome {
    std::vector<std::string> Events;
    TStringList Fetched;
    std::string Raised;
};

CheckOutcome CheckOnThreads(unsigned threads, const std::string& baseDir, const TStringList& entries,
                            std::size_t failAtEvent) {
    HeadlessDispatcher dispatcher;
    RecordingView view;
    view.FailAtEvent = failAtEvent;
    TRunSettings settings;
    settings.Limits.Threads = threads;
    GFilesThread run(dispatcher, view, settings);
    run.SetBaseDir(baseDir);
    CheckOutcome outcome;
    try {
        run.CheckFiles(entries);
    } catch (const std::exception& error) {
        outcome.Raised = error.what();
    }
    outcome.Events = view.Events;
    outcome.Fetched = run.FetchList();
    return outcome;
}

// Digesting ahead on several threads changes nothing the check reports, collects or raises.
TEST_F(CheckFilesTest, ChecksOnSeveralThreadsReportCollectAndRaiseAsOneThreadDoes) {
    FFolder.Write("outside.txt", "outside");
    TStringList entries;
    for (int i = 0; i < 60; ++i) {
        const std::string content(static_cast<std::size_t>(i) * 3000 + 1, static_cast<char>('a' + i % 26));
        const std::string name = "data\\file" + std::to_string(i) + ".bin";
        const std::string digest = Md5Hex(content);
        switch (i % 4) {
            case 0: Local("data/file" + std::to_string(i) + ".bin", content); break;  // equal
            case 1: Local("data/file" + std::to_string(i) + ".bin", content + "local"); break;  // differing
            case 2: break;  // missing
            case 3: entries.push_back("..\\outside.txt|" + Md5Hex("outside") + "|7"); continue;  // refused
        }
        entries.push_back(name + "|" + digest + "|" + std::to_string(content.size()));
    }
    const auto with = [&entries](std::size_t at, const std::string& entry) {
        TStringList changed = entries;
        changed[at] = entry;
        return changed;
    };
    const std::size_t never = 0;
    const struct {
        const char* name;
        TStringList entries;
        std::size_t failAtEvent;
        bool raises;
    } cases[] = {
        {"equal, differing, missing and refused entries", entries, never, false},
        {"a differing entry's size is not a number", with(29, "data\\file29.bin|" + Md5Hex("x") + "|many"), never, true},
        {"an entry without a path", with(37, Md5Hex("x") + "|1"), never, true},
        {"the view fails at a report", entries, 57, true},
    };
    for (const auto& c : cases) {
        const CheckOutcome sequential = CheckOnThreads(1, FFolder.File("inst") + "\\", c.entries, c.failAtEvent);
        EXPECT_EQ(sequential.Raised.empty(), !c.raises) << c.name << ": " << sequential.Raised;
        EXPECT_FALSE(sequential.Fetched.empty()) << c.name;
        for (const unsigned threads : {0u, 2u, 3u, 8u}) {
            const CheckOutcome parallel = CheckOnThreads(threads, FFolder.File("inst") + "\\", c.entries, c.failAtEvent);
            EXPECT_EQ(parallel.Events, sequential.Events) << c.name << ", " << threads << " threads";
            EXPECT_EQ(parallel.Fetched, sequential.Fetched) << c.name << ", " << threads << " threads";
            EXPECT_EQ(parallel.Raised, sequential.Raised) << c.name << ", " << threads << " threads";
        }
    }
}

using UpdateSelfTest = CheckFilesTest;

TEST_F(UpdateSelfTest, OnlyThisLaunchersOwnNameIsFetchedAndAnyOtherIsLeftOutWithTheReason) {
    Local("notepad.exe", "another program");
    TRunSettings settings;
    settings.UpdatesUrl = "http://127.0.0.1:1/";
    settings.Launcher = TLauncherProcess{"OrvexUpdater.exe", 1234};
    RunWith(settings)->UpdateSelf("notepad.exe|" + Md5Hex("new build") + "|9");
    RunWith(settings)->UpdateSelf("a&b.exe|" + Md5Hex("new build") + "|9");
    settings.SelfUpdate = SelfUpdateMode::ReplaceDirectly;  // a tool replaces the named file, under the same rule
    RunWith(settings)->UpdateSelf("Update.bat|" + Md5Hex("new build") + "|9");
    ASSERT_EQ(FView.Notices.size(), 3u);
    EXPECT_EQ(FView.Notices[0], "The self entry \"notepad.exe\" is not this launcher's file (\"OrvexUpdater.exe\"): left out");
    EXPECT_NE(FView.Notices[1].find("Update.bat cannot carry"), std::string::npos);
    EXPECT_NE(FView.Notices[2].find("own Update.bat"), std::string::npos);
    EXPECT_FALSE(SawDownload(FView));
    EXPECT_EQ(FFolder.Read("inst/notepad.exe"), "another program");
    EXPECT_FALSE(FFolder.Exists("inst/Update.bat"));
}

// A view whose first report waits until the test lets the run go on.
class GatedView final : public IProgressView {
public:
    void Open() {
        std::lock_guard<std::mutex> guard(FLock);
        FOpen = true;
        FChanged.notify_all();
    }
    bool WaitForUnlock(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, limit, [this] { return FUnlocked; });
    }
    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> guard(FLock);
        return FRecorded.Events;
    }

    void LockButtons() override {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [this] { return FOpen; });
        FRecorded.LockButtons();
    }
    void UnlockButtons() override {
        std::lock_guard<std::mutex> guard(FLock);
        FRecorded.UnlockButtons();
        FUnlocked = true;
        FChanged.notify_all();
    }
    void ShowStatus(const std::string& status) override { Record([&] { FRecorded.ShowStatus(status); }); }
    void Notice(const std::string& text) override { Record([&] { FRecorded.Notice(text); }); }
    void SetGaugeMax(int32_t gauge, int32_t value) override { Record([&] { FRecorded.SetGaugeMax(gauge, value); }); }
    void SetFileProgress(int32_t position) override { Record([&] { FRecorded.SetFileProgress(position); }); }
    void SetTotalProgress(int32_t position) override { Record([&] { FRecorded.SetTotalProgress(position); }); }
    void SaveRevision(const std::string& revision) override { Record([&] { FRecorded.SaveRevision(revision); }); }
    void SaveListTrust(const std::string& key, const std::string& seq) override {
        Record([&] { FRecorded.SaveListTrust(key, seq); });
    }
    void SaveRolloutNumber(const std::string& number) override { Record([&] { FRecorded.SaveRolloutNumber(number); }); }

private:
    template <typename F>
    void Record(F f) {
        std::lock_guard<std::mutex> guard(FLock);
        f();
    }
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = false;
    bool FUnlocked = false;
    RecordingView FRecorded;
};

bool WaitUntilNoRun() {
    for (int i = 0; i < 500 && GFilesThread::RunExists(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !GFilesThread::RunExists();
}

TEST(GFilesThreadResume, OneRunAtATimeAndTheFinishedRunFreesItself) {
    ScratchFolder folder;
    orvex::test::CurrentDirGuard guard;
    std::filesystem::current_path(folder.Path());
    ASSERT_TRUE(WaitUntilNoRun());

    HeadlessDispatcher dispatcher;
    GatedView view;
    TRunSettings settings;
    settings.UpdatesUrl = "http://127.0.0.1:1/";
    settings.HostsFolder.clear();
    settings.Limits.Retry.Tries = 1;
    auto first = std::make_unique<GFilesThread>(dispatcher, view, settings);
    ASSERT_TRUE(GFilesThread::Resume(std::move(first)));
    EXPECT_TRUE(GFilesThread::RunExists());

    // The first run waits in its first report: a second one is refused (and freed).
    RecordingView secondView;
    auto second = std::make_unique<GFilesThread>(dispatcher, secondView, settings);
    EXPECT_FALSE(GFilesThread::Resume(std::move(second)));
    EXPECT_TRUE(secondView.Events.empty());

    view.Open();
    ASSERT_TRUE(view.WaitForUnlock(std::chrono::seconds(60)));
    ASSERT_TRUE(WaitUntilNoRun());
    // The download that never connected still ends by showing an empty file bar, and says why.
    std::vector<std::string> seen = view.Seen();
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[4].rfind("notice:http://127.0.0.1:1/files.lst.bz2: ", 0), 0u) << seen[4];
    seen.erase(seen.begin() + 4);
    const std::vector<std::string> expected{"lock", "notice:The update list is not signed: no UpdateKey in the settings",
                                            "status:Downloading updates list", "file:0", "status:Update Failed", "unlock"};
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(folder.Exists("files.lst.bz2"));

    // Once it has ended, the next run is accepted.
    GatedView again;
    again.Open();
    auto third = std::make_unique<GFilesThread>(dispatcher, again, settings);
    ASSERT_TRUE(GFilesThread::Resume(std::move(third)));
    ASSERT_TRUE(again.WaitForUnlock(std::chrono::seconds(60)));
    ASSERT_TRUE(WaitUntilNoRun());
}

// A refused connection passes: it is tried again, each try starting the file bar afresh.
TEST(GFilesThreadDownload, UnreachableAddressIsTriedAgainAndLeavesTheFileAloneAndTheFileBarAtZero) {
    ScratchFolder folder;
    folder.Write("files.lst.bz2", "earlier");
    HeadlessDispatcher dispatcher;
    RecordingView view;
    TRunSettings settings;
    settings.Limits.Retry = {3, std::chrono::milliseconds(1), std::chrono::milliseconds(1)};
    settings.UpdatesUrl = "http://127.0.0.1:1/";
    GFilesThread run(dispatcher, view, settings);
    EXPECT_FALSE(run.DownloadFile("files.lst.bz2", folder.File("files.lst.bz2"), true));
    EXPECT_EQ(view.FileProgress, (std::vector<int32_t>{0, 0, 0}));
    ASSERT_EQ(view.Notices.size(), 1u);
    EXPECT_NE(view.Notices[0].find(", given up after 3 tries"), std::string::npos) << view.Notices[0];
    EXPECT_EQ(folder.Read("files.lst.bz2"), "earlier");
}

}  // namespace
