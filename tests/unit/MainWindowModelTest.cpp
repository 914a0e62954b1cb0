#include "common/CurrentDirGuard.h"
#include "common/PumpedCalls.h"
#include "app/MainWindowModel.h"

#include "common/ScratchFolder.h"
#include "update/Settings.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "base/Text.h"
#include "update/Dispatcher.h"
#include "update/GetFilesThr.h"
#include "update/RunResult.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

using namespace orvex;
using orvex::test::ScratchFolder;
using orvex::test::ReadWholeFile;
using orvex::test::CurrentDirGuard;

namespace {

bool SameBounds(const TBounds& a, const TBounds& b) {
    return a.Left == b.Left && a.Top == b.Top && a.Width == b.Width && a.Height == b.Height;
}

// Records what the model asks of its window, in order.
class FakeHost final : public IMainWindowHost {
public:
    void Repaint(const TBounds& bounds) override { Repaints.push_back(bounds); }
    void ButtonChanged(TImgBtn& button) override { Calls.push_back("button:" + std::to_string(button.Left())); }
    void StopTimer() override { Calls.push_back("stop timer"); }
    void ShowNotice(const std::string& text) override { Calls.push_back("notice:" + text); }
    void Terminate() override { Calls.push_back("terminate"); }
    void CreateDesktopShortcut(const std::string& name, const std::string& folder, const std::string& description) override {
        Calls.push_back("shortcut:" + name + "|" + folder + "|" + description);
        if (OnShortcut) OnShortcut();
    }
    void ApplySkinRegion() override { Calls.push_back("skin"); }
    void Navigate(const std::string& url) override {
        Calls.push_back("navigate:" + url);
        if (NavigateFails) throw Exception("The browser refused");
    }
    void RunProgram(const std::string& path) override { Calls.push_back("run:" + path); }
    void Close() override { Calls.push_back("close"); }
    void ShowOptions() override { Calls.push_back("options"); }
    void ShowPanel() override { Calls.push_back("panel"); }

    int CountRepaints(const TBounds& bounds) const {
        return static_cast<int>(std::count_if(Repaints.begin(), Repaints.end(),
                                              [&](const TBounds& b) { return SameBounds(b, bounds); }));
    }
    int Count(const std::string& call) const { return static_cast<int>(std::count(Calls.begin(), Calls.end(), call)); }
    bool Saw(const std::string& call) const { return Count(call) > 0; }

    std::vector<std::string> Calls;
    std::vector<TBounds> Repaints;
    std::function<void()> OnShortcut;
    bool NavigateFails = false;
};

// Stands in for the window's message loop: reports wait until the test thread pumps them.
class QueueDispatcher final : public IDispatcher {
public:
    void Invoke(const std::function<void()>& callback) override { FPumped.Calls.Invoke(callback); }
    void Post(std::function<void()> callback) override { FPumped.Calls.Post(std::move(callback)); }
    // Runs the reports on this thread until no run exists; false after ten seconds.
    bool PumpUntilRunEnds() { return FPumped.RunUntil([] { return !GFilesThread::RunExists(); }); }

private:
    test::PumpedCalls FPumped;
};

class MainWindowModelTest : public ::testing::Test {
protected:
    void Settings(const std::string& content) { FSettingsFile = FFolder.Write("_settings.ini", content); }
    std::string SettingsText() const { return ReadWholeFile(FSettingsFile); }
    std::string BaseDir() const { return os::GetCurrentDir() + "\\"; }

    ScratchFolder FFolder;
    CurrentDirGuard FInFolder{FFolder.Dir()};
    std::string FSettingsFile;
    FakeHost FHost;
    QueueDispatcher FDispatcher;
    TFMainModel FModel{FHost, FDispatcher};
};

const char* InstalledSettings =
    "[main]\r\nNewsUrl=http://news.test/\r\nLinkName=Talvora\r\nInstalled=1\r\nRunCustom=system\\game.exe\r\n";

}  // namespace

TEST_F(MainWindowModelTest, StartsWithTheDesignCaptionsAndEverythingAvailable) {
    EXPECT_EQ(FModel.Label1.Caption, "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB0 "
                                     "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB\xD0\xB0");  // Загрузка файла
    EXPECT_EQ(FModel.Label3.Caption, "... \xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB0 ...");
    EXPECT_TRUE(FModel.Label3.Centered);
    for (const TImgBtn* button : {&FModel.ImgBtn1, &FModel.ImgBtn2, &FModel.ImgBtn3, &FModel.ImgBtn4, &FModel.ImgBtn5}) {
        EXPECT_TRUE(button->Enabled());
        EXPECT_TRUE(button->Visible());
        EXPECT_EQ(button->Picture(), TImgBtnPicture::Up);
    }
    EXPECT_FALSE(FModel.Panel1Visible);
    EXPECT_EQ(FModel.Gauge1.Model.MaxValue(), 100);
    EXPECT_EQ(FModel.SettingsList(), nullptr);
}

TEST_F(MainWindowModelTest, MissingSettingsStopTheTimerShowOneNoticeAndEnd) {
    FModel.FormCreate();
    EXPECT_EQ(FHost.Calls, (std::vector<std::string>{"stop timer", "notice:ERROR: _settings.ini Not Found !",
                                                      "terminate", "skin"}));
    EXPECT_FALSE(std::filesystem::exists(FFolder.OsFile("_settings.ini")));
    // A tick that arrives all the same neither navigates nor starts a run.
    FModel.Timer1Timer();
    EXPECT_FALSE(FHost.Saw("navigate:"));
    EXPECT_FALSE(GFilesThread::RunExists());
}

TEST_F(MainWindowModelTest, FirstStartWritesInstalledBeforeMakingTheShortcut) {
    Settings("[main]\r\nLinkName=My Game\r\nInstalled=0\r\n");
    std::string settingsWhenShortcutMade;
    FHost.OnShortcut = [&] { settingsWhenShortcutMade = SettingsText(); };
    FModel.FormCreate();
    EXPECT_NE(settingsWhenShortcutMade.find("Installed=1"), std::string::npos);
    EXPECT_EQ(FHost.Calls, (std::vector<std::string>{"shortcut:My Game|" + BaseDir() + "|Play Talvora", "skin"}));
    EXPECT_EQ(ListAt(*FModel.SettingsList(), InstalledPos), "0");  // the list keeps what was read
}

TEST_F(MainWindowModelTest, AnyInstalledOtherThanZeroSkipsTheFirstStart) {
    for (const char* installed : {"1", "00", "no"}) {
        Settings(std::string("[main]\r\nInstalled=") + installed + "\r\n");
        FHost.Calls.clear();
        FModel.FormCreate();
        EXPECT_EQ(FHost.Calls, std::vector<std::string>{"skin"}) << installed;
        EXPECT_EQ(SettingsText(), std::string("[main]\r\nInstalled=") + installed + "\r\n");
    }
}

TEST_F(MainWindowModelTest, RefusedInstalledWriteSkipsShortcutAndSkin) {
    Settings("[main]\r\nInstalled=0\r\n");
    std::filesystem::permissions(FSettingsFile, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    if (std::FILE* probe = std::fopen(FSettingsFile.c_str(), "r+")) {
        std::fclose(probe);
        std::filesystem::permissions(FSettingsFile, std::filesystem::perms::owner_all);
        GTEST_SKIP() << "read-only files are writable for this user";
    }
    try {
        FModel.FormCreate();
        ADD_FAILURE() << "no error";
    } catch (const EIniFileException& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + BaseDir() + "_settings.ini");
    }
    std::filesystem::permissions(FSettingsFile, std::filesystem::perms::owner_all);
    EXPECT_TRUE(FHost.Calls.empty());
}

TEST_F(MainWindowModelTest, ReportsChangeTheControlsAndRepaintOnlyWhatChanged) {
    FModel.ShowStatus("Checking data\\a.txt");
    EXPECT_EQ(FModel.Label3.Caption, "Checking data\\a.txt");
    EXPECT_EQ(FModel.Label3.Encoding, TTextEncoding::Ansi);
    EXPECT_EQ(FHost.CountRepaints(FModel.Label3.Bounds), 1);

    FModel.SetGaugeMax(0, 1000);
    FModel.SetGaugeMax(1, 7);
    FModel.SetGaugeMax(2, 5);
    EXPECT_EQ(FModel.Gauge1.Model.MaxValue(), 1000);
    EXPECT_EQ(FModel.Gauge2.Model.MaxValue(), 7);
    EXPECT_THROW(FModel.SetGaugeMax(0, -1), EInvalidOperation);

    // 1000 reports of one byte each: a repaint per whole percent, not per report.
    for (int32_t position = 1; position <= 1000; ++position) FModel.SetFileProgress(position);
    EXPECT_EQ(FHost.CountRepaints(FModel.Gauge1.Bounds), 100);
    FModel.SetFileProgress(5000);
    EXPECT_EQ(FModel.Gauge1.Model.Progress(), 1000);
    FModel.SetTotalProgress(3);
    EXPECT_EQ(FModel.Gauge2.Model.PercentDone(), 42);

    FModel.LockButtons();
    EXPECT_FALSE(FModel.ImgBtn1.Visible());
    EXPECT_FALSE(FModel.ImgBtn2.Visible());
    EXPECT_FALSE(FModel.ImgBtn5.Enabled());
    EXPECT_EQ(FModel.ImgBtn5.Picture(), TImgBtnPicture::Disabled);
    EXPECT_TRUE(FModel.ImgBtn3.Visible() && FModel.ImgBtn3.Enabled() && FModel.ImgBtn4.Enabled());
    FModel.UnlockButtons();
    EXPECT_TRUE(FModel.ImgBtn1.Visible() && FModel.ImgBtn2.Visible() && FModel.ImgBtn5.Enabled());
    EXPECT_EQ(FHost.Count("button:686"), 2);
    EXPECT_EQ(FHost.Count("button:715"), 2);
}

TEST_F(MainWindowModelTest, SaveRevisionWritesTheFileButNotTheListAndIsDroppedAfterClose) {
    Settings(InstalledSettings);
    FModel.FormCreate();
    FModel.SaveRevision("15");
    EXPECT_NE(SettingsText().find("AtRevision=15"), std::string::npos);
    EXPECT_EQ(ListAt(*FModel.SettingsList(), AtRevisionPos), "0");
    FModel.FormClose();
    EXPECT_EQ(FModel.SettingsList(), nullptr);
    FModel.SaveRevision("16");
    EXPECT_EQ(SettingsText().find("AtRevision=16"), std::string::npos);
}

TEST_F(MainWindowModelTest, ACommitCutShortIsCompletedBeforeTheGameCanStart) {
    Settings(InstalledSettings);
    FFolder.Write("game.exe", "revision 0");
    FFolder.Write(".orvex/staging/game.exe", "revision 9");
    FFolder.Write(".orvex/journal", "backup 0\nrevision 9\nfile game.exe\n");
    FModel.FormCreate();
    EXPECT_EQ(FFolder.Read("game.exe"), "revision 9");
    EXPECT_NE(SettingsText().find("AtRevision=9"), std::string::npos);
    EXPECT_EQ(ListAt(*FModel.SettingsList(), AtRevisionPos), "9");
}

// Unlike the revision, the trust goes into the list too: a second run of this window (the check
// button) must refuse a list older than the one just taken.
TEST_F(MainWindowModelTest, SaveListTrustWritesTheFileAndTheList) {
    Settings(InstalledSettings);
    FModel.FormCreate();
    FModel.SaveListTrust("RWQkey1 RWQkey2", "8");
    EXPECT_NE(SettingsText().find("UpdateKey=RWQkey1 RWQkey2\r\nListSeq=8\r\n"), std::string::npos) << SettingsText();
    EXPECT_EQ(ListAt(*FModel.SettingsList(), UpdateKeyPos), "RWQkey1 RWQkey2");
    EXPECT_EQ(ListAt(*FModel.SettingsList(), ListSeqPos), "8");
}

TEST_F(MainWindowModelTest, ButtonsPlayCloseAndOpenOptions) {
    Settings(InstalledSettings);
    FModel.FormCreate();
    FHost.Calls.clear();
    FModel.ImgBtn1Click();
    FModel.ImgBtn3Click();
    FModel.ImgBtn4Click();
    FModel.ImgBtn5Click();
    FModel.WebBrowser1NavigateComplete2();
    FModel.WebBrowser1NavigateComplete2();
    EXPECT_EQ(FHost.Calls, (std::vector<std::string>{"run:" + BaseDir() + "system\\game.exe", "close", "close", "close",
                                                      "options", "panel"}));
    EXPECT_TRUE(FModel.Panel1Visible);
}

TEST_F(MainWindowModelTest, TimerNavigatesThenRunsOnceAndASecondStartIsRefused) {
    Settings(InstalledSettings);
    FModel.FormCreate();
    FModel.Timer1Timer();
    EXPECT_EQ(FHost.Calls[1], "stop timer");
    EXPECT_EQ(FHost.Calls[2], "navigate:http://news.test/");
    EXPECT_EQ(FModel.Label3.Caption, "");
    ASSERT_TRUE(GFilesThread::RunExists());
    // The run waits for its first report; the check button in this moment does nothing.
    EXPECT_FALSE(FModel.StartUpdateRun(true));
    FModel.ImgBtn2Click();
    ASSERT_TRUE(FDispatcher.PumpUntilRunEnds());
    // One run: locked and unlocked once; no update address, so it failed, and the log says so.
    EXPECT_EQ(FHost.Count("button:686"), 2);
    EXPECT_EQ(FModel.Label3.Caption, SUpdateFailed);
    const std::string log = FFolder.Read(RunLogName);
    EXPECT_NE(log.find("  Update run started\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Update run ended: Update Failed\r\n"), std::string::npos) << log;
    EXPECT_TRUE(FModel.ImgBtn1.Visible());

    // After the run the check button starts a new one; the status line is cleared first.
    EXPECT_TRUE(FModel.StartUpdateRun(true));
    EXPECT_EQ(FModel.Label3.Caption, "");
    ASSERT_TRUE(FDispatcher.PumpUntilRunEnds());
    EXPECT_EQ(FHost.Count("button:686"), 4);
}

TEST_F(MainWindowModelTest, NonNumericBackupOrRevisionStartsNoRun) {
    for (const char* line : {"CreateBackup=yes", "AtRevision=1.5"}) {
        Settings(std::string(InstalledSettings) + line + "\r\n");
        FModel.FormCreate();
        const std::string value = std::string(line).substr(std::string(line).find('=') + 1);
        try {
            FModel.Timer1Timer();
            ADD_FAILURE() << "no error for " << line;
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + value + "' is not a valid integer value");
        }
        EXPECT_FALSE(GFilesThread::RunExists());
        EXPECT_TRUE(FHost.Saw("navigate:http://news.test/"));
        EXPECT_THROW(FModel.ImgBtn2Click(), EConvertError);
        EXPECT_FALSE(GFilesThread::RunExists());
    }
}

TEST_F(MainWindowModelTest, RefusedNavigationStartsNoRunFromTheTimer) {
    Settings(InstalledSettings);
    FModel.FormCreate();
    FHost.NavigateFails = true;
    EXPECT_THROW(FModel.Timer1Timer(), Exception);
    EXPECT_FALSE(GFilesThread::RunExists());
    EXPECT_NE(FModel.Label3.Caption, "");
}

TEST(InstanceKey, TagsTellLockFileIdentitiesApart) {
    const uint32_t tag = InstanceTag(InstanceKey(0x51000000, 0xac8022));
    EXPECT_NE(InstanceTag(InstanceKey(0x51000000, 0xac8023)), tag);
    EXPECT_NE(InstanceTag(InstanceKey(0x52000000, 0xac8022)), tag);
    EXPECT_NE(InstanceTag(InstanceKey(1, 2)), InstanceTag(InstanceKey(2, 1)));
    EXPECT_NE(InstanceTag(InstanceKey(0x12, 0x3)), InstanceTag(InstanceKey(0x1, 0x23)));
    EXPECT_NE(tag, 0u);
}

TEST(GaugeFillWidth, ProportionalRoundedDownAndClamped) {
    EXPECT_EQ(GaugeFillWidth(430, 0), 0);
    EXPECT_EQ(GaugeFillWidth(430, 1), 4);
    EXPECT_EQ(GaugeFillWidth(430, 50), 215);
    EXPECT_EQ(GaugeFillWidth(430, 99), 425);
    EXPECT_EQ(GaugeFillWidth(430, 100), 430);
    EXPECT_EQ(GaugeFillWidth(430, 250), 430);
    EXPECT_EQ(GaugeFillWidth(430, -3), 0);
}

// The status line's tooltip says why the last run failed: its first failure, not a notice that only
// informs, not an earlier run's; and where the log is.
TEST_F(MainWindowModelTest, AFailedRunsTooltipTellsItsFirstFailureAndTheLog) {
    struct Run {
        const char* Name;
        std::vector<std::pair<bool, std::string>> Notices;  // failure?, text
        std::string Status;
        std::string Tip;  // before the log's line
    };
    const std::string log = "The log: " + JoinPath(os::GetCurrentDir(), RunLogName);
    const std::string longName(400, 'n');
    const std::vector<Run> runs = {
        {"failed", {{false, "not signed"}, {true, "a.bz2: HTTP status 404"}, {true, "b.bz2: cut"}}, SUpdateFailed,
         "a.bz2: HTTP status 404\r\n"},
        {"the earlier run's failure is not this one's", {}, SUpdateFailed, ""},
        {"a failure in a run that did not fail", {{true, "mirror given up"}}, SAllFilesUpdated, ""},
        {"nothing to do", {}, "", ""},
        {"controls and length", {{true, "\"x\ny" + longName + "\" refused"}}, SUpdateFailed,
         Shortened("\"x\\x0Ay" + longName + "\" refused", 300) + "\r\n"},
    };
    for (const Run& run : runs) {
        FModel.LockButtons();
        for (const auto& [failure, text] : run.Notices) {
            if (failure)
                FModel.Failure(text);
            else
                FModel.Notice(text);
        }
        FModel.ShowStatus(run.Status);
        FModel.UnlockButtons();
        const bool failed = run.Status == SUpdateFailed;
        EXPECT_EQ(FModel.StatusTip(), failed ? run.Tip + log : "") << run.Name;
    }
}

// The file bar's tooltip: the rate and time left of what the bar shows, which fall while nothing
// arrives, and start afresh with the next file; the overall bar does not touch them.
TEST_F(MainWindowModelTest, TheFileBarsTooltipShowsItsRateAndTimeLeft) {
    using namespace std::chrono_literals;
    TRateMeter::Clock::time_point now{};
    FModel.Now = [&now] { return now; };
    struct Step {
        std::chrono::milliseconds At;
        std::function<void()> Report;  // none: only the pointer resting on the bar
        std::string Tip;
    };
    const int32_t MiB = 1048576;
    const std::vector<Step> steps = {
        {0ms, [&] { FModel.SetGaugeMax(0, 10 * MiB); }, ""},
        {1000ms, [&] { FModel.SetFileProgress(MiB); }, "1.0 MiB/s, 0:09 left"},
        {2000ms, [&] { FModel.SetGaugeMax(1, 7); FModel.SetTotalProgress(3); }, "512.0 KiB/s, 0:18 left"},
        {8000ms, {}, ""},
        {9000ms, [&] { FModel.SetGaugeMax(0, 4 * MiB); }, ""},
        {10000ms, [&] { FModel.SetFileProgress(2 * MiB); }, "2.0 MiB/s, 0:01 left"},
    };
    for (const Step& step : steps) {
        now = TRateMeter::Clock::time_point{} + step.At;
        if (step.Report) step.Report();
        EXPECT_EQ(FModel.FileBarTip(), step.Tip) << step.At.count();
    }
}
