#include "common/ScratchFolder.h"

#include "base/Os.h"
#include "base/TempFile.h"
#include "update/Leftovers.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::test;

TEST(RemoveLeftovers, RemovesTemporariesStaleDownloadsAndPartialCopiesOfFilesNoLongerListed) {
    struct Case {
        std::string file;  // present before the run, "/" between folders
        bool stays;
    };
    ScratchFolder scratch;
    // A temporary as the program names it, beside a listed file in a subfolder.
    const std::string temporary = TTempFile(scratch.File("data\\game.dat")).Name();
    const std::string temporaryName = temporary.substr(temporary.find_last_of('\\') + 1);
    ASSERT_TRUE(os::IsTempName(temporaryName));
    const Case cases[] = {
        {"game.exe", true},
        {"data/game.dat", true},
        {"data/" + temporaryName, false},
        {"launcher.exe.4711_0.orvex-part", false},   // in the installation folder
        {"data/game.dat.bz2", false},               // an unpacked download never removed
        {"data/listed.bz2", true},                  // listed itself
        {"data/notes.txt.bz2", true},               // beside nothing listed
        {"data/game.dat.tmp", true},                // not the program's form
        {"data/game.orvex-part.txt", true},
        {"other/x.orvex-part", true},               // a folder the list has nothing in
        {"game.exe.bz2", false},
        {"data/game.dat.bz2.orvex-partial", true},   // a broken transfer the next fetch continues
        {"data/game.dat.bz2.orvex-partial-tag", true},
        {"data/gone.dat.bz2.orvex-partial", false},  // its file left the list
        {"data/gone.dat.bz2.orvex-partial-tag", false},
    };
    for (const Case& c : cases) scratch.Write(c.file, "x");

    RemoveLeftovers(scratch.Dir() + "\\", TStringList{"game.exe", "data\\game.dat", "data\\listed.bz2", "data\\listed"});

    for (const Case& c : cases) EXPECT_EQ(scratch.Exists(c.file), c.stays) << c.file;
}

// Outside the staging folder only the updater's own temporaries go: beside _settings.ini, in the
// backup folder and in the state folder, named as TempNameBeside names them.
TEST(RemoveOwnTemporaries, RemovesOnlyTheUpdatersTemporariesBesideItsOwnFiles) {
    struct Case {
        const char* File;
        bool Stays;
    };
    const Case cases[] = {
        {"_settings.ini.123_4.orvex-part", false},
        {"files.lst.bz2.212_0.orvex-part", false},
        {"files.lst.bz2.minisig.9_1.orvex-part", false},
        {"backup/data/big.bin.77_0.orvex-part", false},
        {".orvex/journal.5_6.orvex-part", false},
        {"_settings.ini", true},
        {"notes.orvex-part", true},
        {"game.exe.123_4.orvex-part", true},
        {"backup/data/big.bin", true},
        {"backup/data/x.orvex-part", true},
        {"backup/data/x.1a_2.orvex-part", true},
        {"data/y.1_2.orvex-part", true},
    };
    ScratchFolder scratch;
    for (const Case& c : cases) scratch.Write(c.File, "x");
    RemoveOwnTemporaries(scratch.Dir() + "\\");
    RemoveOwnTemporariesUnder(scratch.Dir() + "\\backup");
    for (const Case& c : cases) EXPECT_EQ(scratch.Exists(c.File), c.Stays) << c.File;
}
