#include "common/Links.h"
#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "update/FolderLock.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvex;
using orvex::test::MakeLink;
using orvex::test::RemoveLeftLink;
using orvex::test::ScratchFolder;

TEST(TFolderLock, EverySpellingOfTheFolderIsRefusedWhileHeldAndGrantedAfter) {
    const ScratchFolder scratch;
    const std::string folder = scratch.File("game");
    ASSERT_TRUE(std::filesystem::create_directory(scratch.OsFile("game")));
    ASSERT_TRUE(MakeLink(scratch.Path() / "game", scratch.Path() / "link"));
    struct Spelling {
        const char* what;
        std::string path;
    };
    std::vector<Spelling> spellings = {
        {"the same path", folder},
        {"a trailing delimiter", folder + "\\"},
        {"the OS's delimiters", scratch.OsFile("game/")},
        {"a detour through the parent", folder + "\\..\\game"},
        {"a link to the folder", scratch.File("link")},
    };
#ifdef _WIN32
    std::string upper = folder;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    spellings.push_back({"other letter case", upper});
#endif
    for (const auto& spelling : spellings) {
        std::string key;
        {
            const TFolderLock first(folder);
            ASSERT_TRUE(first.Held()) << spelling.what;
            const TFolderLock second(spelling.path);
            EXPECT_FALSE(second.Held()) << spelling.what;
            EXPECT_EQ(second.Key(), first.Key()) << spelling.what;
            key = first.Key();
        }
        const TFolderLock after(spelling.path);
        EXPECT_TRUE(after.Held()) << spelling.what;
        EXPECT_EQ(after.Key(), key) << spelling.what;
    }
    RemoveLeftLink(scratch.Path() / "link");
}

TEST(TFolderLock, AnotherFolderIsLockedBesideAndTellsItselfApart) {
    const ScratchFolder scratch;
    ASSERT_TRUE(std::filesystem::create_directory(scratch.OsFile("one")));
    ASSERT_TRUE(std::filesystem::create_directory(scratch.OsFile("two")));
    const TFolderLock one(scratch.File("one"));
    const TFolderLock two(scratch.File("two"));
    EXPECT_TRUE(one.Held());
    EXPECT_TRUE(two.Held());
    EXPECT_NE(one.Key(), two.Key());
    EXPECT_TRUE(std::filesystem::is_regular_file(scratch.OsFile("one/.orvex/lock")));
}

TEST(TFolderLock, AFolderThatCannotHoldTheLockFileRaises) {
    const ScratchFolder scratch;
    EXPECT_THROW(TFolderLock(scratch.File("missing")), EInOutError);
    scratch.Write("game/.orvex", "a file where the updater's folder belongs");
    EXPECT_THROW(TFolderLock(scratch.File("game")), EInOutError);
}
