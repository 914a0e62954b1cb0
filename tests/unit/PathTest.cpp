#include "base/Path.h"

#include <gtest/gtest.h>

using namespace orvex;

// The one rule for paths an update list names, as the launcher, the publisher and its check apply it.
TEST(StaysInside, AcceptsOnlyRelativePathsOfPlainNames) {
    struct {
        const char* Path;
        bool Inside;
        bool Name;
    } const cases[] = {
        {"game.exe", true, true},
        {"...exe", true, true},
        {"..x", true, true},
        {"data\\a.txt", true, false},
        {"data/sub dir/b.bin", true, false},
        {"a..b\\c", true, false},
        {"dir\\...\\x", true, false},
        {"", false, false},
        {".", false, false},
        {"..", false, false},
        {".\\x", false, false},
        {"a/./ok.dat", false, false},
        {"..\\x", false, false},
        {"../x", false, false},
        {"a\\..\\..\\x", false, false},
        {"a\\..", false, false},
        {"a/../b", false, false},
        {"\\x", false, false},
        {"/x", false, false},
        {"\\\\server\\share\\x", false, false},
        {"a//ok.dat", false, false},
        {"a/", false, false},
        {"C:x", false, false},
        {"C:\\x", false, false},
        {"x:stream", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StaysInside(c.Path), c.Inside) << c.Path;
        EXPECT_EQ(IsNameInFolder(c.Path), c.Name) << c.Path;
    }
}

// The names a list may use, for file entries and for the self entry: the reason given names the rule.
TEST(RefusedListPath, RefusesOwnFilesDevicesAliasesAndPathsTooLongForThePlace) {
    TInstallPlace launcher;  // the publisher's assumed folder; 139 characters left for a path
    launcher.LauncherName = "OrvexUpdater.exe";
    const TInstallPlace deep{200, WindowsLongestPath, ""};  // 19 characters left
    const TInstallPlace posix{20, 4095, ""};
    enum Kind { File, Self };
    struct {
        std::string Path;
        Kind As;
        const TInstallPlace& Place;
        const char* Reason;  // a part of it; nullptr: accepted
    } const cases[] = {
        {"game.exe", File, launcher, nullptr},
        {"data\\_settings.ini", File, launcher, nullptr},
        {"bin\\OrvexUpdater.exe", File, launcher, nullptr},
        {"a~b.txt", File, launcher, nullptr},
        {"COM0", File, launcher, nullptr},
        {"COM10.txt", File, launcher, nullptr},
        {"console.txt", File, launcher, nullptr},
        {"nully", File, launcher, nullptr},
        {"...exe", File, launcher, nullptr},
        {"", File, launcher, "is empty"},
        {"..\\x", File, launcher, "leaves the installation folder"},
        {"C:x", File, launcher, "drive or a stream"},
        {"_Settings.INI", File, launcher, "own _settings.ini"},
        {"files.lst", File, launcher, "own files.lst"},
        {"FILES.LST.BZ2", File, launcher, "own files.lst.bz2"},
        {"update.bat", File, launcher, "own Update.bat"},
        {".ORVEX\\journal", File, launcher, "updater's own folder"},
        {"data\\.orvex", File, launcher, nullptr},
        {"orvexupdater.EXE", File, launcher, "launcher's own executable"},
        {"a.txt.", File, launcher, "ending in a dot or a space"},
        {"dir \\a.txt", File, launcher, "ending in a dot or a space"},
        {"CON", File, launcher, "device name \"CON\""},
        {"data\\Nul.txt", File, launcher, "device name"},
        {"aux.tar.gz", File, launcher, "device name"},
        {"NUL .txt", File, launcher, "device name"},
        {"prn", File, launcher, "device name"},
        {"com1", File, launcher, "device name"},
        {"LPT9.log", File, launcher, "device name"},
        {"COM\xB9", File, launcher, "device name"},
        {"CONIN$", File, launcher, "device name"},
        {"conout$.txt", File, launcher, "device name"},
        {"_SETTI~1.INI", File, launcher, "short name"},
        {"SAVE~1.DAT", File, launcher, "short name"},
        {"ORVEX~1\\journal", File, launcher, "short name (\"ORVEX~1\")"},
        {"data\\save~1.dat", File, launcher, nullptr},
        {"dir\\PROGRA~1", File, launcher, nullptr},
        {"dir\\PROGRAM~12", File, launcher, nullptr},
        {"SETUP~1.EXE", Self, launcher, "short name"},
        {"a\tb", File, launcher, "control character"},
        {"a\x01", File, launcher, "control character"},
        {"a*b", File, launcher, "refuses in names"},
        {"a?b", File, launcher, "refuses in names"},
        {"a<b>", File, launcher, "refuses in names"},
        {"a\"b", File, launcher, "refuses in names"},
        {std::string(255, 'n'), File, posix, nullptr},
        {"d\\" + std::string(256, 'n'), File, posix, "longer than 255"},
        {std::string(139, 'p'), File, launcher, nullptr},
        {std::string(140, 'p'), File, launcher, "(at most 139 characters)"},
        {std::string(19, 'p'), File, deep, nullptr},
        {"a\\" + std::string(18, 'p'), File, deep, "too long for the installation folder"},
        {"OrvexUpdater.exe", Self, launcher, nullptr},
        {"My Launcher-2.exe", Self, launcher, nullptr},
        {"x.exe.", Self, launcher, "ending in a dot"},
        {"Update.bat", Self, launcher, "own Update.bat"},
        {"nul.exe", Self, launcher, "device name"},
        {"bin\\x.exe", Self, launcher, "not a single file name"},
        {"a&b.exe", Self, launcher, "Update.bat cannot carry"},
        {"x(1).exe", Self, launcher, "Update.bat cannot carry"},
        {"100%.exe", Self, launcher, "Update.bat cannot carry"},
        {"hi!.exe", Self, launcher, "Update.bat cannot carry"},
        {"a^b.exe", Self, launcher, "Update.bat cannot carry"},
        {"\xcb\xe0\xf3\xed\xf7\xe5\xf0.exe", Self, launcher, "Update.bat cannot carry"},  // Cyrillic, code page 1251
    };
    for (const auto& c : cases) {
        const auto reason = c.As == File ? RefusedListPath(c.Path, c.Place) : RefusedSelfName(c.Path, c.Place);
        if (!c.Reason) {
            EXPECT_FALSE(reason.has_value()) << c.Path << ": " << reason.value_or("");
        } else {
            ASSERT_TRUE(reason.has_value()) << c.Path;
            EXPECT_NE(reason->find(c.Reason), std::string::npos) << c.Path << ": " << *reason;
        }
    }
    EXPECT_EQ(LocalInstallPlace("C:\\Games\\", "x.exe").FolderLength, 9u);
}

// Paths naming one file on Windows: the first one listed is taken, the others are its twins.
TEST(CaseTwins, TakesTheFirstPathOfEachFile) {
    struct {
        const char* Path;
        const char* Earlier;  // nullptr: none
    } const cases[] = {
        {"a.txt", nullptr},
        {"A.TXT", "a.txt"},
        {"a.txt", nullptr},  // the same path again is no twin
        {"Data\\X.bin", nullptr},
        {"data/x.BIN", "Data\\X.bin"},
        {"data\\x.bin.bak", nullptr},
        {"\xC0.txt", nullptr},  // letters beyond ASCII are not folded
        {"\xE0.txt", nullptr},
    };
    TCaseTwins twins;
    for (const auto& c : cases) {
        const auto earlier = twins.EarlierOf(c.Path);
        EXPECT_EQ(earlier.value_or("(none)"), c.Earlier ? c.Earlier : "(none)") << c.Path;
    }
}

TEST(JoinPath, PutsOneDelimiterBetweenFolderAndPath) {
    EXPECT_EQ(JoinPath("", "a\\b"), "a\\b");
    EXPECT_EQ(JoinPath("dir", "a\\b"), "dir\\a\\b");
    EXPECT_EQ(JoinPath("dir\\", "a"), "dir\\a");
    EXPECT_EQ(JoinPath("/srv/www/", "a"), "/srv/www/a");
}
