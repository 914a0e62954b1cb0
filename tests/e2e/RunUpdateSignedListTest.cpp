// Signed lists: what a trusted key and the last accepted sequence let through, how a trusted
// list hands trust on to a new key, what SIZE means with and without a signature, and the
// notices of failures that end a run.
#include "RunUpdateFixture.h"

#include "base/Disk.h"
#include "formats/Minisign.h"
#include "formats/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

uint64_t UnixNow() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// Every file under root with its bytes, the updater's own folder aside.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).generic_string();
        if (name.rfind(StateFolderName, 0) != 0)
            files[name] = entry.is_regular_file() ? ReadWholeFile(entry.path()) : "<dir>";
    }
    return files;
}

class SignedListTest : public RunUpdateTest {
protected:
    // The list as published now, signed: the trusted comment names rev and the settings' channel
    // unless told otherwise.
    void Sign(const minisign::TKeyPair& key, uint64_t seq, std::optional<uint64_t> expires = std::nullopt,
              std::optional<uint64_t> signedRev = std::nullopt, std::optional<std::string> channel = std::nullopt) {
        const std::string packed = ReadWholeFile(FServer / "files.lst.bz2");
        const minisign::TTrustedFields fields{signedRev.value_or(static_cast<uint64_t>(FDescription.Rev)), seq, expires,
                                              channel.value_or(FChannel)};
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
        {"another folder's list", [this] { Sign(FKey, 6, std::nullopt, std::nullopt, "beta"); },
         "signed for channel \"beta\", the settings' Channel is \"live\""},
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
    FChannel = "live";
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
    AdoptTrust();

    // The new key names itself alone: the old one is retired, and a list it signs is refused.
    PublishNaming(4, {FOtherKey});
    Sign(FOtherKey, 4);
    FView = RecordingView();
    Run(3);
    EXPECT_EQ(FView.SavedTrust, (std::vector<std::pair<std::string, std::string>>{
                                    {minisign::PublicKeyLine(FOtherKey.Public), "4"}}));
    AdoptTrust();
    Publish(5);
    Sign(FKey, 5);
    FView = RecordingView();
    Run(4);
    EXPECT_EQ(FStatus, "Update Failed");
    EXPECT_TRUE(NoticeHas("not in UpdateKey")) << testing::PrintToString(FView.Notices);
}

// The main server down and the first mirror a revision behind: its list is skipped with a notice
// naming it and the next mirror's is taken, signed or not. The main address's own list is taken as
// it is (an operator may renumber).
TEST_F(SignedListTest, AMirrorBehindTheInstallationIsSkippedForTheNextServer) {
    const auto copyServer = [this](const std::string& suffix) {
        const fs::path copy = FServer.string() + suffix;
        fs::remove_all(copy);
        fs::copy(FServer, copy, fs::copy_options::recursive);
        return FUrl.substr(0, FUrl.size() - 1) + suffix + "/";
    };
    MakeClient("v2");
    Publish(2);
    Sign(FKey, 5);
    const std::string behind = copyServer("-behind");
    MakeClient("v3");
    Publish(3);
    Sign(FKey, 6);
    const std::string current = copyServer("-current");
    const std::string dead = "http://127.0.0.1:1/";
    const struct {
        const char* name;
        std::string main, mirrors, updateKey, listSeq;
        int32_t atRevision;
        bool skipped;  // behind's list skipped, current's taken
    } cases[] = {
        {"unsigned, revision behind", dead, behind + " " + current, "", "", 3, true},
        {"signed, sequence behind", dead, behind + " " + current, minisign::PublicKeyLine(FKey.Public), "6", 2, true},
        {"unsigned, the main address behind", behind, current, "", "", 3, false},
    };
    for (const auto& c : cases) {
        InstallOldVersions();
        FUrlOverride = c.main;
        FMirrors = c.mirrors;
        FUpdateKey = c.updateKey;
        FListSeq = c.listSeq;
        FView = RecordingView();
        Run(c.atRevision);
        EXPECT_EQ(FStatus, "All the files have been updated") << c.name;
        EXPECT_EQ(Same("game.exe"), c.skipped) << c.name << " installed the current revision";
        EXPECT_EQ(NoticeHas("The update list of the mirror " + behind + " was skipped: "), c.skipped)
            << c.name << testing::PrintToString(FView.Notices);
        EXPECT_EQ(NoticeHas("The update list was served by the mirror " + current), c.skipped)
            << c.name << testing::PrintToString(FView.Notices);
    }
}

// A list written by hand, as the first release took it: SIZE only sets the file bar's maximum,
// so 0 and the unpacked size (here smaller than the copy) install. Only a signed list, which the
// publisher writes, holds the copy to SIZE exactly. Every download keeps the disk's reserve.
TEST_F(SignedListTest, SizeBoundsTheCopyExactlyOnlyInASignedList) {
    enum class Size { Zero, Unpacked, Copy, CopyLessOne };
    struct {
        const char* Name;
        bool Signed;
        Size Written;
        bool BeyondFreeSpace;  // a reserve larger than the free space
        const char* Notice;    // nullptr: installed
    } const cases[] = {
        {"unsigned, SIZE 0", false, Size::Zero, false, nullptr},
        {"unsigned, the unpacked size", false, Size::Unpacked, false, nullptr},
        {"unsigned, one byte short", false, Size::CopyLessOne, false, nullptr},
        {"signed, the copy's size", true, Size::Copy, false, nullptr},
        {"signed, one byte short", true, Size::CopyLessOne, false, "longer than the"},
        {"signed, the unpacked size", true, Size::Unpacked, false, "longer than the 11 bytes expected"},
        {"unsigned, no free space", false, Size::Zero, true, "not enough free disk space"},
    };
    const std::string content = "save game 1";
    Put(FClient / "save.dat", content);
    const auto copy = CompressFile((FClient / "save.dat").string(), (FServer / "save.dat.bz2").string());
    ASSERT_GT(copy.Size, static_cast<int64_t>(content.size()));
    const std::optional<uint64_t> free = os::FreeSpace(FInstall.string());
    ASSERT_TRUE(free.has_value());
    FDescription.Rev = 2;
    for (const auto& c : cases) {
        const int64_t size = c.Written == Size::Zero       ? 0
                             : c.Written == Size::Unpacked ? static_cast<int64_t>(content.size())
                             : c.Written == Size::Copy     ? copy.Size
                                                           : copy.Size - 1;
        PublishList("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_critical]\r\nsave.dat|" +
                    DigestToHex(copy.SourceDigest) + "|" + std::to_string(size) + "\r\n[/files_critical]\r\n");
        fs::remove(FServer / "files.lst.bz2.minisig");
        if (c.Signed) Sign(FKey, 1);
        FUpdateKey = c.Signed ? minisign::PublicKeyLine(FKey.Public) : "";
        FLimits.FreeSpaceReserve = c.BeyondFreeSpace ? *free + 1024 * MiB : DefaultFreeSpaceReserve;
        fs::remove_all(Under(FInstall, StateFolderName));
        Put(FInstall / "save.dat", "old save");
        FView = RecordingView();
        Run(1);
        EXPECT_EQ(FStatus, c.Notice ? "Update Failed" : "All the files have been updated") << c.Name;
        EXPECT_EQ(ReadWholeFile(FInstall / "save.dat"), c.Notice ? "old save" : content) << c.Name;
        if (c.Notice) {
            EXPECT_TRUE(NoticeHas(c.Notice)) << c.Name << ": " << testing::PrintToString(FView.Notices);
        }
        ExpectButtonsBack();
        ExpectNoLeftovers();
    }
}

// Failures that end a run before its files are fetched say why, in the log and on orvex-update's
// output alike (both show the run's notices).
TEST_F(SignedListTest, HostEntriesOrSettingsThatCannotBeWrittenAreToldInANotice) {
    const std::string settings = "[settings]\r\nRev|2\r\nModHosts|1\r\n[/settings]\r\n";
    struct {
        const char* Name;
        std::function<void()> Prepare;
        const char* Notice;
    } const cases[] = {
        {"a refused host entry",
         [&] { PublishList(settings + "[hosts]\r\n300.0.0.1|login.talvora.test\r\n[/hosts]\r\n"); },
         "host entries were not applied: Bad hosts entry \"300.0.0.1|login.talvora.test\": not an IPv4 or IPv6 address"},
        {"no host entries", [&] { PublishList(settings); },
         "host entries were not applied: ModHosts is 1 but [hosts] has no entries"},
        {"a refused revision write",
         [this] {
             Publish(2);
             FView.FailRevisionWrite = true;
         },
         "Unable to write to _settings.ini"},
        {"a refused write of the list's sequence",
         [this] {
             Publish(2);
             Sign(FKey, 1);
             FUpdateKey = minisign::PublicKeyLine(FKey.Public);
             FView.FailTrustWrite = true;
         },
         "Unable to write to _settings.ini"},
    };
    MakeClient();
    Put(FHosts / "hosts", "127.0.0.1 localhost\r\n");
    for (const auto& c : cases) {
        fs::remove(FServer / "files.lst.bz2.minisig");
        FUpdateKey.clear();
        FView = RecordingView();
        InstallOldVersions();
        c.Prepare();
        Run(0);
        EXPECT_EQ(FStatus, "Update Failed") << c.Name;
        EXPECT_TRUE(NoticeHas(c.Notice)) << c.Name << ": " << testing::PrintToString(FView.Notices);
        EXPECT_EQ(ReadWholeFile(FHosts / "hosts"), "127.0.0.1 localhost\r\n") << c.Name;
        ExpectButtonsBack();
    }
}

}  // namespace
