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

TEST(JoinPath, PutsOneDelimiterBetweenFolderAndPath) {
    EXPECT_EQ(JoinPath("", "a\\b"), "a\\b");
    EXPECT_EQ(JoinPath("dir", "a\\b"), "dir\\a\\b");
    EXPECT_EQ(JoinPath("dir\\", "a"), "dir\\a");
    EXPECT_EQ(JoinPath("/srv/www/", "a"), "/srv/www/a");
}
