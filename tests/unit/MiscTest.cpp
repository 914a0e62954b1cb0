#include "common/CurrentDirGuard.h"
#include "common/Links.h"
#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "util/Misc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <utility>

using namespace orvex;
using orvex::test::CurrentDirGuard;
using orvex::test::MakeLink;
using orvex::test::RemoveLeftLink;
using orvex::test::UnderWine;
using orvex::test::ScratchFolder;

TEST(SplitStr, GivesNonEmptyFieldsLastFirst) {
    EXPECT_EQ(SplitStr("A|B|C", "|"), (TStringList{"C", "B", "A"}));
    EXPECT_EQ(SplitStr("A||C", "|"), (TStringList{"C", "A"}));
    EXPECT_EQ(SplitStr("A|B|", "|"), (TStringList{"B", "A"}));
    EXPECT_EQ(SplitStr("|A", "|"), (TStringList{"A"}));
    EXPECT_EQ(SplitStr("text", "|"), (TStringList{"text"}));
    EXPECT_EQ(SplitStr(" a | b", "|"), (TStringList{" b", " a "}));
    EXPECT_EQ(SplitStr("a;b|c", ";|"), (TStringList{"c", "b", "a"}));
    EXPECT_TRUE(SplitStr("|", "|").empty());
    EXPECT_TRUE(SplitStr("||", "|").empty());
    EXPECT_TRUE(SplitStr("", "|").empty());
}

TEST(FindFrom, FindsTheLeftmostOccurrenceAtOrAfterStart) {
    EXPECT_EQ(FindFrom(1, "hello", "l"), 3);
    EXPECT_EQ(FindFrom(4, "hello", "l"), 4);
    EXPECT_EQ(FindFrom(5, "hello", "l"), 0);
    EXPECT_EQ(FindFrom(1, "abababab", "bab"), 2);
    EXPECT_EQ(FindFrom(3, "abababab", "bab"), 4);
    EXPECT_EQ(FindFrom(1, "aaaaab", "aaab"), 3);
    EXPECT_EQ(FindFrom(1, "abcabcabd", "abcabd"), 4);
    EXPECT_EQ(FindFrom(4, "abcab", "ab"), 4);
    EXPECT_EQ(FindFrom(5, "abcab", "ab"), 0);  // start beyond length - m + 1
    EXPECT_EQ(FindFrom(100, "abcab", "ab"), 0);
    EXPECT_EQ(FindFrom(1, "ab", "abc"), 0);
    EXPECT_EQ(FindFrom(1, "", "a"), 0);
    EXPECT_EQ(FindFrom(1, "abc", ""), 0);
    EXPECT_EQ(FindFrom(1, "x\xe9y\xe9", "\xe9"), 2);
    // A start in front of the text searches from the first character.
    EXPECT_EQ(FindFrom(0, "abc", "ab"), 1);
    EXPECT_EQ(FindFrom(-5, "abc", "bc"), 2);
}

TEST(FindFrom, AgreesWithAPlainSearchOnRandomTexts) {
    std::mt19937 random(12345);
    const char alphabet[] = {'a', 'b', '\t', '\xff'};
    const auto randomText = [&](int maxLength) {
        std::string text(random() % static_cast<unsigned>(maxLength + 1), ' ');
        for (char& c : text) c = alphabet[random() % 4];
        return text;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string text = randomText(24);
        const std::string pattern = randomText(5);
        if (pattern.empty()) continue;
        for (int start = 1; start <= static_cast<int>(text.size()) + 1; ++start) {
            const auto found = text.find(pattern, static_cast<std::size_t>(start - 1));
            const int expected = found == std::string::npos ? 0 : static_cast<int>(found) + 1;
            ASSERT_EQ(FindFrom(start, text, pattern), expected) << "'" << text << "' '" << pattern << "' " << start;
        }
    }
}

TEST(ReplaceAll, ReplacesEveryOccurrenceLeftToRightOnce) {
    EXPECT_EQ(ReplaceAll("data\\maps\\town\\a.map", "\\", "/"), "data/maps/town/a.map");
    EXPECT_EQ(ReplaceAll("game.exe", "\\", "/"), "game.exe");
    EXPECT_EQ(ReplaceAll("a\\b", "", "/"), "a\\b");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("aXa", "a", "aa"), "aaXaa");
    EXPECT_EQ(ReplaceAll("\\\\", "\\", ""), "");
    EXPECT_EQ(ReplaceAll("", "x", "y"), "");
}

TEST(DeleteFolder, RemovesAWholeTreeAndNothingElse) {
    ScratchFolder scratch;
    std::filesystem::create_directories(scratch.Path() / "backup" / "data" / "deep");
    scratch.Write("backup/top.txt", "1");
    scratch.Write("backup/data/deep/inner.bin", std::string(5000, 'x'));
    scratch.Write("keep.txt", "k");

    EXPECT_TRUE(DeleteFolder(scratch.File("backup")));
    EXPECT_FALSE(scratch.Exists("backup"));
    EXPECT_EQ(scratch.Read("keep.txt"), "k");

    EXPECT_FALSE(DeleteFolder(scratch.File("missing")));
    EXPECT_FALSE(DeleteFolder(scratch.File("keep.txt")));
    EXPECT_EQ(scratch.Read("keep.txt"), "k");
}

// Under Wine as on Windows and natively: the link goes (or, where Wine cannot remove a Unix link
// to a folder, stays and the deletion reports failure), what it points to stays whole.
TEST(DeleteFolder, RemovesLinksThemselvesAndNeverWhatTheyPointTo) {
    struct Case {
        const char* what;
        const char* link;    // in the scratch folder, pointing to "outside" or "outside/file.txt"
        bool toFolder;
        const char* deleted; // the folder DeleteFolder is given
    };
    const Case cases[] = {
        {"a link to a folder inside", "backup/data", true, "backup"},
        {"a link to a file inside", "backup/data/game.dat", false, "backup"},
        {"the folder itself a link", "backup", true, "backup"},
    };
    for (const Case& c : cases) {
        ScratchFolder scratch;
        scratch.Write("outside/file.txt", "precious");
        scratch.Write("outside/sub/deep.txt", "deep");
        scratch.Write("backup/own.txt", "own");
        std::filesystem::create_directories(scratch.Path() / c.link);
        std::filesystem::remove_all(scratch.Path() / c.link);
        const auto target = scratch.Path() / (c.toFolder ? "outside" : "outside/file.txt");
        ASSERT_TRUE(MakeLink(target, scratch.Path() / c.link)) << c.what;
        ASSERT_EQ(std::filesystem::is_directory(scratch.Path() / c.link), c.toFolder) << c.what;

        const bool deleted = DeleteFolder(scratch.File(c.deleted));
        // Wine keeps a Unix link to a folder whatever is asked of it.
        EXPECT_EQ(deleted, !(UnderWine() && c.toFolder)) << c.what;
        if (deleted) {
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(scratch.Path() / c.deleted))) << c.what;
        }
        EXPECT_EQ(scratch.Read("outside/file.txt"), "precious") << c.what;
        EXPECT_EQ(scratch.Read("outside/sub/deep.txt"), "deep") << c.what;
        RemoveLeftLink(scratch.Path() / c.link);
    }
}

// Only a file itself counts: not a folder, not a link to a file or a folder; a file whose folder is
// reached through a link still does (its own name is no link).
TEST(IsRegularFile, TakesAFileItselfWhereverItsFolderLeads) {
    ScratchFolder scratch;
    scratch.Write("file.txt", "f");
    scratch.Write("outside/target.txt", "t");
    ASSERT_TRUE(MakeLink(scratch.Path() / "outside/target.txt", scratch.Path() / "link.txt"));
    ASSERT_TRUE(MakeLink(scratch.Path() / "outside", scratch.Path() / "linked"));
    const std::pair<const char*, bool> cases[] = {
        {"file.txt", true},       {"outside", false},        {"link.txt", false},
        {"linked", false},        {"missing.txt", false},    {"linked/target.txt", true},
    };
    for (const auto& [path, regular] : cases) EXPECT_EQ(os::IsRegularFile(scratch.File(path)), regular) << path;
    RemoveLeftLink(scratch.Path() / "link.txt");
    RemoveLeftLink(scratch.Path() / "linked");
}

TEST(RunFile, RaisesForAFolderThatCannotBeEnteredAndStaysWhereItWas) {
    ScratchFolder scratch;
    CurrentDirGuard guard;
    std::filesystem::current_path(scratch.Path());
    EXPECT_THROW(static_cast<void>(RunFile(scratch.File("missing\\game.exe"))), EInOutError);
    EXPECT_THROW(static_cast<void>(RunFile("game.exe")), EInOutError);
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), scratch.Path()));
}

TEST(RunFile, EntersTheProgramsFolderEvenWhenTheProgramDoesNotStart) {
    ScratchFolder scratch;
    std::filesystem::create_directories(scratch.Path() / "game");
    CurrentDirGuard guard;
    EXPECT_FALSE(RunFile(scratch.File("game\\missing.exe")));
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), scratch.Path() / "game"));
}

TEST(RunFile, StartsTheProgramInItsOwnFolder) {
    ScratchFolder scratch;
    // The folder's name never reaches the command line: the program is started by its own name.
    const std::string game = "game (1) & 100% ok!";
    std::filesystem::create_directories(scratch.Path() / game);
    // A batch file where the command interpreter runs it, a shell script elsewhere.
    if (test::WindowsPaths()) {
        scratch.Write(game + "/start.bat", "@echo started> marker.txt\r\n");
    } else {
        scratch.Write(game + "/start.bat", "#!/bin/sh\necho started > marker.txt\n");
        std::filesystem::permissions(scratch.Path() / game / "start.bat", std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
    }
    CurrentDirGuard guard;
    EXPECT_TRUE(RunFile(scratch.File(game + "\\start.bat")));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!scratch.Exists(game + "/marker.txt") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(scratch.Exists(game + "/marker.txt"));
    // Let the writer finish its line.
    for (int i = 0; i < 100 && scratch.Read(game + "/marker.txt").find("started") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(scratch.Read(game + "/marker.txt").find("started"), std::string::npos);
}

// The batch file names nothing but the launcher and its own files, relative to its folder, so the
// folder's name (any letters, %, &, !) never reaches the command interpreter.
TEST(WriteUpdateBat, EndsTheLauncherByItsProcessAndSwapsOnlyWhenTheNewOneIsThere) {
    ScratchFolder scratch;
    CurrentDirGuard guard;
    std::filesystem::current_path(scratch.Path());
    scratch.Write("Update.bat", std::string(1000, 'x'));  // an older, longer one is replaced
    WriteUpdateBat("Orvex Updater.exe", 4242);
    const std::string head = "@echo off\r\n"
                             "taskkill /PID 4242 /F > nul\r\n"
                             "ping 127.0.0.1 -n 3 > nul\r\n";
    const std::string tail = "start \"\" \"Orvex Updater.exe\"\r\n"
                             "del \"Update.bat\"\r\n";
    EXPECT_EQ(scratch.Read("Update.bat"), head + tail);

    scratch.Write("Orvex Updater.exe.New", "MZ");
    WriteUpdateBat("Orvex Updater.exe", 4242);
    EXPECT_EQ(scratch.Read("Update.bat"), head +
                                              "del \"files.lst\"\r\n"
                                              "del \"Orvex Updater.exe\"\r\n"
                                              "rename \"Orvex Updater.exe.New\" \"Orvex Updater.exe\"\r\n" +
                                              tail);

    // A name the batch file cannot carry is never written.
    std::filesystem::remove(scratch.Path() / "Update.bat");
    EXPECT_THROW(WriteUpdateBat("a&b.exe", 4242), Exception);
    EXPECT_THROW(WriteUpdateBat("100%.exe", 4242), Exception);
    EXPECT_FALSE(scratch.Exists("Update.bat"));
}

TEST(IsBareFileName, AcceptsOnlyPlainNamesWithoutFolderOrShellCharacters) {
    for (const char* good : {"OrvexUpdater.exe", "x", "game-1.2_b.exe", "...exe"})
        EXPECT_TRUE(IsBareFileName(good)) << good;
    for (const char* bad : {"", ".", "..", "bin\\a.exe", "bin/a.exe", "C:a.exe", "a\"b.exe", "a&b", "a|b", "a<b",
                            "a>b", "a^b", "%TEMP%", "a(1)", "a)", "a\tb", "a\rb", "a\x01"})
        EXPECT_FALSE(IsBareFileName(bad)) << bad;
}
