#pragma once
// Whole update runs against the test web server, natively (libcurl) and under Wine (WinINet): the
// fixture every RunUpdate*Test.cpp shares. Each test gets a server folder of its own under the
// web server's root, an installation, a client to publish and a hosts folder.
#include "Support.h"
#include "common/CurrentDirGuard.h"
#include "common/RecordingView.h"
#include "common/ScratchFolder.h"

#include "base/Os.h"
#include "base/Path.h"
#include "tools/publish/ServerFolder.h"
#include "update/Dispatcher.h"
#include "update/GetFilesThr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvex::test {

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

    // Publishes a hand-written list, for entries the publisher refuses to write.
    void PublishList(const std::string& list) const {
        Put(FClient / "files.lst", list);
        CompressFile((FClient / "files.lst").string(), (FServer / "files.lst.bz2").string());
    }

    // The installation as the client had it before: every file in its old version.
    void InstallOldVersions() {
        Put(Under(FInstall, "game.exe"), "old game");
        Put(Under(FInstall, "data\\a.txt"), "old a");
        Put(Under(FInstall, "data\\sub dir\\b.bin"), "old b");
    }

    // The one place that hands the test's inputs to a run.
    std::unique_ptr<GFilesThread> ConfiguredRun(IDispatcher& dispatcher, int32_t atRevision, bool fullCheck,
                                                int32_t createBackup) {
        TRunSettings settings;
        settings.UpdatesUrl = FUrlOverride.empty() ? FUrl : FUrlOverride;
        settings.Mirrors = FMirrors;
        settings.AtRevision = atRevision;
        settings.FullCheck = fullCheck;
        settings.CreateBackup = createBackup;
        settings.UpdateKey = FUpdateKey;
        settings.ListSeq = FListSeq;
        settings.Channel = FChannel;
        settings.RolloutNumber = FRolloutNumber;
        settings.HostsFolder = FHosts.string();
        settings.SelfUpdate = FSelfUpdate;
        settings.Launcher = FLauncher;
        settings.Limits = FLimits;
        auto run = std::make_unique<GFilesThread>(dispatcher, FView, settings);
        return run;
    }

    void Run(int32_t atRevision, bool fullCheck = false, int32_t createBackup = 0) {
        HeadlessDispatcher dispatcher;
        const auto run = ConfiguredRun(dispatcher, atRevision, fullCheck, createBackup);
        run->RunUpdate();
        FStatus = run->Status();
        FFetched = run->Fetched();
    }

    bool Same(const std::string& listPath) const {
        return std::filesystem::exists(Under(FInstall, listPath)) &&
               ReadWholeFile(Under(FInstall, listPath)) == ReadWholeFile(Under(FClient, listPath));
    }

    // Nothing of the run's own is left behind in the installation.
    // Nothing of the run outside the updater's own folder, which keeps what a retry continues.
    void ExpectNoLeftovers() const {
        for (auto entry = std::filesystem::recursive_directory_iterator(FInstall);
             entry != std::filesystem::recursive_directory_iterator(); ++entry) {
            const std::string name = entry->path().filename().string();
            if (name == StateFolderName) {
                entry.disable_recursion_pending();
                continue;
            }
            EXPECT_EQ(name.find(".bz2"), std::string::npos) << entry->path();
            EXPECT_EQ(name.find(os::TempSuffix), std::string::npos) << entry->path();
            EXPECT_NE(name, "files.lst") << entry->path();
        }
    }

    // Where the run stages path until it commits.
    std::filesystem::path Staged(const std::string& path) const {
        return Under(FInstall, std::string(StateFolderName) + "\\staging\\" + path);
    }

    // listPath arrived intact and waits, staged, for a run that commits: it is not installed.
    bool StagedOnly(const std::string& listPath) const {
        return !Same(listPath) && std::filesystem::exists(Staged(listPath)) &&
               ReadWholeFile(Staged(listPath)) == ReadWholeFile(Under(FClient, listPath));
    }

    void ExpectButtonsBack() const {
        ASSERT_FALSE(FView.Events.empty());
        EXPECT_EQ(FView.Events.front(), "lock");
        EXPECT_EQ(FView.Events.back(), "unlock");
    }

    ScratchFolder FInstallFolder, FClientFolder, FHostsFolder;
    std::filesystem::path FInstall = FInstallFolder.Path(), FClient = FClientFolder.Path(), FHosts = FHostsFolder.Path(),
                          FServer;
    std::string FUrl, FUrlOverride, FMirrors, FStatus, FUpdateKey, FListSeq, FChannel;
    GFilesThread::TFetchSummary FFetched;
    TPublishDescription FDescription;
    int FRolloutNumber = -1;
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

}  // namespace orvex::test
