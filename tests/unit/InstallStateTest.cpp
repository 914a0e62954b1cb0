#include "common/ScratchFolder.h"

#include "update/InstallState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvex;
using namespace orvex::test;

namespace {

// An installation at revision 4 (one file changed by the player) with revision 5 staged.
struct Staged5 {
    ScratchFolder Folder;
    std::vector<int32_t> Saved;

    Staged5() {
        Folder.Write("game.exe", "game 4");
        Folder.Write("data/a.txt", "a 4, changed by the player");
        Folder.Write(".orvex/staging/game.exe", "game 5");
        Folder.Write(".orvex/staging/data/a.txt", "a 5");
        Folder.Write(".orvex/staging/data/new.txt", "new 5");
    }
    std::string Base() const { return Folder.Dir() + "\\"; }
    TInstallState::TSaveRevision Save() {
        return [this](int32_t revision) { Saved.push_back(revision); };
    }
    TCommit Commit() const { return {{"game.exe", "data\\a.txt", "data\\new.txt"}, 5, true, {}, {}}; }

    void ExpectAt5WithTheBackupOf4() const {
        EXPECT_EQ(Folder.Read("game.exe"), "game 5");
        EXPECT_EQ(Folder.Read("data/a.txt"), "a 5");
        EXPECT_EQ(Folder.Read("data/new.txt"), "new 5");
        EXPECT_EQ(Folder.Read("backup/game.exe"), "game 4");
        EXPECT_EQ(Folder.Read("backup/data/a.txt"), "a 4, changed by the player");
        EXPECT_FALSE(Folder.Exists("backup/data/new.txt"));
        EXPECT_FALSE(Folder.Exists("backup/stale.txt"));
        EXPECT_FALSE(Folder.Exists(".orvex/journal"));
        EXPECT_FALSE(Folder.Exists(".orvex/staging"));
    }
};

}  // namespace

// Wherever a commit was cut short, the next start completes it from its journal: the installation
// is then at the new revision, with the backup of the files it replaced, the revision recorded.
TEST(InstallState, ACommitCutShortAnywhereIsCompletedByTheNextStart) {
    struct Case {
        const char* CutAfter;
        bool BackupEmptied;    // the revision's backup folder was begun
        int Replaced;          // files already renamed into place
        bool FirstBackedUp;    // the next file's backup was made, not yet its rename
    };
    const Case cases[] = {
        {"the journal", false, 0, false},
        {"emptying the backup folder", true, 0, false},
        {"the first file's backup", true, 0, true},
        {"the first file's rename", true, 1, false},
        {"every rename", true, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.CutAfter);
        Staged5 install;
        install.Folder.Write("backup/stale.txt", "revision 3's");
        install.Folder.Write(".orvex/journal", "backup 1\nrevision 5\nfile game.exe\nfile data\\a.txt\nfile data\\new.txt\n");
        if (c.BackupEmptied) {
            std::filesystem::remove_all(install.Folder.Path() / "backup");
            std::filesystem::create_directories(install.Folder.Path() / "backup");
            install.Folder.Write(".orvex/backup-revision", "5");
        }
        if (c.FirstBackedUp) install.Folder.Write("backup/game.exe", "game 4");
        const char* order[] = {"game.exe", "data/a.txt", "data/new.txt"};
        for (int i = 0; i < c.Replaced; ++i) {
            if (install.Folder.Exists(order[i]))
                install.Folder.Write(std::string("backup/") + order[i], install.Folder.Read(order[i]));
            std::filesystem::rename(install.Folder.Path() / ".orvex/staging" / order[i], install.Folder.Path() / order[i]);
        }
        install.Folder.Write("backup/data/a.txt.77_0.orvex-part", "a backup copy cut short");
        TInstallState state(install.Base());
        EXPECT_TRUE(state.Recover(install.Save()));
        install.ExpectAt5WithTheBackupOf4();
        EXPECT_FALSE(install.Folder.Exists("backup/data/a.txt.77_0.orvex-part"));
        EXPECT_EQ(install.Saved, std::vector<int32_t>{5});
        EXPECT_FALSE(state.Recover(install.Save()));
    }
}

// The backup folder belongs to a revision: emptied when the first commit of a later one begins,
// added to by the commits of the same one, which never replace a backup it holds.
TEST(InstallState, TheBackupFolderIsEmptiedOncePerRevision) {
    Staged5 install;
    install.Folder.Write("backup/stale.txt", "revision 3's");
    TInstallState state(install.Base());
    state.Commit(install.Commit(), install.Save());
    install.ExpectAt5WithTheBackupOf4();

    // The same revision again (a file the player broke since): the earlier backup stays.
    install.Folder.Write("game.exe", "broken by the player");
    install.Folder.Write(".orvex/staging/game.exe", "game 5");
    state.Commit({{"game.exe"}, std::nullopt, true, {}, {}}, install.Save());
    EXPECT_EQ(install.Folder.Read("game.exe"), "game 5");
    EXPECT_EQ(install.Folder.Read("backup/game.exe"), "game 4");
    EXPECT_EQ(install.Saved, std::vector<int32_t>{5});

    // Without backups nothing is copied or emptied.
    install.Folder.Write(".orvex/staging/data/a.txt", "a 6");
    state.Commit({{"data\\a.txt"}, 6, false, {}, {}}, install.Save());
    EXPECT_EQ(install.Folder.Read("backup/data/a.txt"), "a 4, changed by the player");
    EXPECT_EQ(install.Saved, (std::vector<int32_t>{5, 6}));
}

TEST(InstallState, AJournalNeverReachesOutsideTheInstallationNorIntoTheUpdatersFolder) {
    ScratchFolder outer;
    outer.Write("precious.txt", "the player's");
    outer.Write("game/.orvex/precious.txt", "planted");
    outer.Write("game/.orvex/backup-revision", "4");
    outer.Write("game/.orvex/journal",
                "backup 0\nfile ..\\precious.txt\nremove ..\\precious.txt\nremove .orvex\\backup-revision\n");
    EXPECT_TRUE(TInstallState(outer.File("game") + "\\").Recover([](int32_t) {}));
    EXPECT_EQ(outer.Read("precious.txt"), "the player's");
    EXPECT_EQ(outer.Read("game/.orvex/backup-revision"), "4");
}
