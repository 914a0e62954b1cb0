// What a list asks of the installation beyond its files: paths that leave it, malformed lists,
// host entries and the launcher's own entry.
#include "RunUpdateFixture.h"

#include "formats/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

TEST_F(RunUpdateTest, EntriesLeavingTheInstallationAreRefusedAndCountAsFailed) {
    Put(FClient / "evil.txt", "outside");
    const auto copy = CompressFile((FClient / "evil.txt").string(), (FServer / "evil.txt.bz2").string());
    const std::string md5 = DigestToHex(copy.SourceDigest);
    const std::string size = std::to_string(copy.Size);
    PublishList("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\n"
                "..\\evil.txt|" + md5 + "|" + size + "\r\n"
                "sub\\..\\..\\evil.txt|" + md5 + "|" + size + "\r\n"
                "\\evil.txt|" + md5 + "|" + size + "\r\n"
                "C:evil.txt|" + md5 + "|" + size + "\r\n"
                "evil.txt|" + md5 + "|" + size + "\r\n"
                "[/files_critical]\r\n");
    Run(0);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_FALSE(fs::exists(FInstall.parent_path() / "evil.txt"));
    // The one harmless entry arrives, staged; with the others refused the run installs nothing.
    EXPECT_EQ(ReadWholeFile(Staged("evil.txt")), "outside");
    EXPECT_FALSE(fs::exists(FInstall / "evil.txt"));
    EXPECT_TRUE(FView.SavedRevisions.empty());
}

// A list written by hand, as the first release installed it: the short-name form is refused only at
// the top level, where it may stand for the installation's own files.
TEST_F(RunUpdateTest, ShortNameFormsAreRefusedAtTheTopLevelOnly) {
    struct {
        const char* Path;
        bool Taken;
    } const cases[] = {
        {"data\\save~1.dat", true},
        {"data\\PROGRA~1\\x.dat", true},
        {"SAVE~1.DAT", false},
        {"ORVEX~1\\journal", false},
    };
    for (const auto& c : cases) {
        Put(Under(FClient, c.Path), std::string("content of ") + c.Path);
        fs::create_directories(Under(FServer, c.Path).parent_path());
        const auto copy = CompressFile(Under(FClient, c.Path).string(), Under(FServer, std::string(c.Path) + ".bz2").string());
        PublishList("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\n" + std::string(c.Path) + "|" +
                    DigestToHex(copy.SourceDigest) + "|" + std::to_string(copy.Size) + "\r\n[/files_normal]\r\n");
        FView = RecordingView();
        Run(0);
        EXPECT_EQ(FStatus, c.Taken ? "All the files have been updated" : "Update Failed") << c.Path;
        EXPECT_EQ(Same(c.Path), c.Taken) << c.Path;
        const bool told = std::any_of(FView.Notices.begin(), FView.Notices.end(), [](const std::string& notice) {
            return notice.find("the form of a Windows short name") != std::string::npos;
        });
        EXPECT_EQ(told, !c.Taken) << c.Path << ": " << testing::PrintToString(FView.Notices);
    }
}

// Two entries naming one file on Windows, in other letter case: the later one is refused, so the
// file is not swapped between the two at every start (the run says why and fails, as for any refused
// entry), natively and under Wine alike.
TEST_F(RunUpdateTest, AnEntryDifferingOnlyInLetterCaseFromAnEarlierOneIsRefused) {
    struct {
        const char* Earlier;
        const char* Later;
        const char* LaterSection;
    } const cases[] = {
        {"Readme.txt", "README.TXT", "files_critical"},
        {"data\\Maps\\a.map", "data/maps/A.MAP", "files_normal"},
    };
    for (const auto& c : cases) {
        // Both copies are served where the server folder can hold both (not through Wine's names).
        std::string entries[2];
        for (int i = 0; i < 2; ++i) {
            const std::string path = i == 0 ? c.Earlier : c.Later;
            Put(FClient / "copy", "content of " + path);
            const std::string copyName = (i == 0 || !WindowsPaths() ? "" : "unserved\\") + path + ".bz2";
            const auto copy = CompressFile((FClient / "copy").string(), Under(FServer, copyName).string());
            entries[i] = path + "|" + DigestToHex(copy.SourceDigest) + "|" + std::to_string(copy.Size) + "\r\n";
        }
        const bool bothCritical = std::string(c.LaterSection) == "files_critical";
        PublishList("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\n" + entries[0] +
                    (bothCritical ? entries[1] : "") + "[/files_critical]\r\n[files_normal]\r\n" +
                    (bothCritical ? "" : entries[1]) + "[/files_normal]\r\n");
        Put(Under(FInstall, c.Earlier), "old");
        for (int run = 0; run < 2; ++run) {
            FView = RecordingView();
            Run(0);
            EXPECT_EQ(FStatus, "Update Failed") << c.Later;
            EXPECT_EQ(ReadWholeFile(Under(FInstall, c.Earlier)), "old") << c.Later;
            ASSERT_FALSE(FView.Notices.empty()) << c.Later;
            EXPECT_NE(FView.Notices.back().find(std::string("differs only in letter case from \"") + c.Earlier + "\""),
                      std::string::npos)
                << FView.Notices.back();
            EXPECT_TRUE(FView.SavedRevisions.empty());
        }
    }
}

TEST_F(RunUpdateTest, MalformedListsEndWithUpdateFailedAndTheButtonsBack) {
    for (const std::string list : {"[settings]\r\nRev|x\r\nModHosts|0\r\n[/settings]\r\n",
                                   "[settings]\r\nRev|1\r\n[/settings]\r\n",
                                   "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\na.txt|-5\r\n[/files_critical]\r\n",
                                   "[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\na.txt|0123|-5\r\n[/files_critical]\r\n",
                                   "[settings]\r\nRev|1\r\nModHosts|1\r\n[/settings]\r\n"}) {
        PublishList(list);
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
    ASSERT_FALSE(FView.Notices.empty());
    EXPECT_NE(FView.Notices.back().find("host entries were not applied: "), std::string::npos) << FView.Notices.back();
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
    ASSERT_FALSE(FView.Notices.empty());
    EXPECT_EQ(FView.Notices.back(), "The launcher executable Launcher.exe was replaced by the update list's new version");
}

TEST_F(RunUpdateTest, UnsafeLauncherNameIsNeverFetchedNorWrittenIntoTheBatchFile) {
    Put(FClient / "x.exe", "new launcher");
    const auto copy = CompressFile((FClient / "x.exe").string(), (FServer / "a&b.exe.bz2").string());
    PublishList("[settings]\r\nRev|1\r\nModHosts|0\r\n[/settings]\r\n[self]\r\na&b.exe|" + DigestToHex(copy.SourceDigest) + "|" +
                std::to_string(copy.Size) + "\r\n[/self]\r\n");
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


// Files dropped from the client go only when the list says so, into the backup folder when backups
// are on; files no list named (the player's) never go.
TEST_F(RunUpdateTest, FilesDroppedFromTheClientAreRemovedWhenTheListSaysSo) {
    struct Case {
        bool RemoveUnlisted;
        int32_t CreateBackup;
    };
    for (const Case& c : {Case{false, 0}, Case{true, 0}, Case{true, 1}}) {
        SCOPED_TRACE(std::to_string(c.RemoveUnlisted) + " " + std::to_string(c.CreateBackup));
        for (const auto& entry : fs::directory_iterator(FInstall)) fs::remove_all(entry.path());
        MakeClient();
        Put(Under(FClient, "data\\old.dll"), "dropped later");
        FDescription.NormalFiles.push_back("data\\old.dll");
        FDescription.RemoveUnlisted = c.RemoveUnlisted;
        Publish(1);
        Run(0, false, c.CreateBackup);
        ASSERT_TRUE(Same("data\\old.dll"));
        Put(Under(FInstall, "data\\saves\\slot1"), "the player's");

        fs::remove(Under(FClient, "data\\old.dll"));
        FDescription.NormalFiles.pop_back();
        Put(Under(FClient, "data\\a.txt"), "text of a, revision 2");
        Publish(2);
        Run(1, false, c.CreateBackup);
        EXPECT_EQ(FStatus, "All the files have been updated");
        EXPECT_EQ(fs::exists(Under(FInstall, "data\\old.dll")), !c.RemoveUnlisted);
        EXPECT_EQ(fs::exists(Under(FInstall, "backup\\data\\old.dll")), c.RemoveUnlisted && c.CreateBackup == 1);
        EXPECT_EQ(ReadWholeFile(Under(FInstall, "data\\saves\\slot1")), "the player's");
    }
}

}  // namespace
