#include "common/CurrentDirGuard.h"
#include "update/Settings.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "common/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace orvex;
using orvex::test::ScratchFolder;
using orvex::test::ReadWholeFile;
using orvex::test::CurrentDirGuard;

namespace {

const TStringList AllDefaults = {"", "", "Talvora", "0", "0", "0", "system\\orvex.exe", "", "", "", "", "", ""};

TStringList WithoutBaseDir(const TStringList& list) { return TStringList(list.begin() + 1, list.end()); }

}  // namespace

TEST(LoadSettings, WithoutTheFileHoldsOnlyTheBaseFolder) {
    ScratchFolder folder;
    folder.Write("marker.txt", "");
    CurrentDirGuard inFolder(folder.Dir());
    TStringList settings = {"stale"};
    EXPECT_FALSE(LoadSettings(settings));
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[BaseDirPos], os::GetCurrentDir() + "\\");
    EXPECT_TRUE(os::FileExists(settings[BaseDirPos] + "marker.txt"));
    EXPECT_EQ(SettingsFileName(settings), settings[BaseDirPos] + "_settings.ini");
}

TEST(LoadSettings, EmptyFileOrNoMainSectionGivesAllDefaults) {
    for (const char* content : {"", "; nothing\r\n[other]\r\nNewsUrl=http://x/\r\nLinkName=Other\r\n"}) {
        ScratchFolder folder;
        folder.Write("_settings.ini", content);
        CurrentDirGuard inFolder(folder.Dir());
        TStringList settings;
        EXPECT_TRUE(LoadSettings(settings));
        ASSERT_EQ(settings.size(), AllDefaults.size() + 1);
        EXPECT_EQ(WithoutBaseDir(settings), AllDefaults) << "content: " << content;
    }
}

TEST(LoadSettings, KeepsTheValuesAsTheTextsRead) {
    ScratchFolder folder;
    const std::string longUrl = "http://news.example/" + std::string(2980, 'n');
    folder.Write("_settings.ini",
                 "[MAIN]\r\n"
                 "newsurl=" + longUrl + "\r\n"
                 "UpdatesUrl = http://updates.example/client \r\n"
                 "LinkName=\r\n"
                 "Installed=00\r\n"
                 "CreateBackup=yes\r\n"
                 "AtRevision=\"42\"\r\n"
                 "RunCustom=bin\\game.exe\r\n"
                 "UpdateKey=RWQkey1 RWQkey2\r\n"
                 "ListSeq=7\r\n"
                 "Mirrors=http://m1/ http://m2/\r\n"
                 "Channel=live\r\n"
                 "MaxRate=512K\r\n");
    CurrentDirGuard inFolder(folder.Dir());
    TStringList settings;
    ASSERT_TRUE(LoadSettings(settings));
    EXPECT_EQ(WithoutBaseDir(settings), (TStringList{longUrl.substr(0, 2047), "http://updates.example/client", "", "00",
                                                     "yes", "42", "bin\\game.exe", "RWQkey1 RWQkey2", "7",
                                                     "http://m1/ http://m2/", "live", "", "512K"}));
}

TEST(WriteSetting, ReplacesOnlyItsKey) {
    ScratchFolder folder;
    const std::string before =
        "; launcher\r\n"
        "[main]\r\n"
        "NewsUrl=http://news/\r\n"
        "UpdatesUrl=http://updates/\r\n"
        "AtRevision=7\r\n"
        "CreateBackup=1\r\n"
        "[extra]\r\n"
        "AtRevision=99\r\n";
    folder.Write("_settings.ini", before);
    CurrentDirGuard inFolder(folder.Dir());
    TStringList settings;
    ASSERT_TRUE(LoadSettings(settings));
    WriteSetting(settings, "AtRevision", "12");
    std::string expected = before;
    expected.replace(expected.find("AtRevision=7"), 12, "AtRevision=12");
    EXPECT_EQ(ReadWholeFile(folder.OsFile("_settings.ini")), expected);

    WriteSetting(settings, "Installed", "1");
    WriteListTrust(settings, "RWQkey1 RWQkey2", "9");
    TStringList reloaded;
    ASSERT_TRUE(LoadSettings(reloaded));
    EXPECT_EQ(WithoutBaseDir(reloaded), (TStringList{"http://news/", "http://updates/", "Talvora", "1", "1", "12",
                                                     "system\\orvex.exe", "RWQkey1 RWQkey2", "9", "", "", "", ""}));
}

TEST(WriteSetting, RefusedWriteNamesTheFullPath) {
    ScratchFolder folder;
    const TStringList settings = {folder.Dir() + "\\missing\\"};
    try {
        WriteSetting(settings, "AtRevision", "3");
        ADD_FAILURE() << "write into a missing folder accepted";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + folder.Dir() + "\\missing\\_settings.ini");
    }
    EXPECT_THROW(WriteSetting(TStringList{}, "AtRevision", "3"), EListError);
}

TEST(WriteSetting, KeepsEveryOtherByteOfTheFile) {
    struct Case {
        const char* what;
        const char* before;
        const char* key;
        const char* value;
        const char* after;
    };
    const Case cases[] = {
        {"CR LF, unknown keys and sections",
         "; launcher\r\n[main]\r\nNewsUrl=http://n/\r\nFuture=x\r\nAtRevision=7\r\nMirrors=http://m/\r\n[extra]\r\nAtRevision=99\r\n",
         "AtRevision", "12",
         "; launcher\r\n[main]\r\nNewsUrl=http://n/\r\nFuture=x\r\nAtRevision=12\r\nMirrors=http://m/\r\n[extra]\r\nAtRevision=99\r\n"},
        {"LF, a new key after its section's last", "[main]\nFuture=x\nAtRevision=7\n\n[extra]\nK=1\n", "ListSeq", "4",
         "[main]\nFuture=x\nAtRevision=7\nListSeq=4\n\n[extra]\nK=1\n"},
        {"the key's own spelling, no last line end", "[MAIN]\natrevision = 7", "AtRevision", "8", "[MAIN]\natrevision=8"},
        {"no main section", "[extra]\nK=1\n", "Installed", "1", "[extra]\nK=1\n[main]\nInstalled=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        folder.Write("_settings.ini", c.before);
        WriteSetting(TStringList{folder.Dir() + "\\"}, c.key, c.value);
        EXPECT_EQ(folder.Read("_settings.ini"), c.after);
    }
}

TEST(WriteSetting, TheValueAKeyAlreadyHasLeavesTheFileUntouched) {
    struct Case {
        const char* what;
        const char* before;
        const char* value;
        bool written;
    };
    const Case cases[] = {
        {"same value", "[main]\r\nAtRevision=12\r\n", "12", false},
        {"blanks around the old value", "[main]\r\n atrevision = 12 \r\n", "12", false},
        {"blanks before the new value", "[main]\r\nAtRevision=12\r\n", "  12", false},
        {"another value", "[main]\r\nAtRevision=12\r\n", "13", true},
        {"quoted old value", "[main]\r\nAtRevision=\"12\"\r\n", "12", true},
        {"blank after the new value", "[main]\r\nAtRevision=12\r\n", "12 ", true},
        {"key only in another section", "[extra]\r\nAtRevision=12\r\n", "12", true},
        {"key without a value", "[main]\r\nAtRevision\r\n", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        const auto file = folder.Path() / "_settings.ini";
        folder.Write("_settings.ini", c.before);
        const auto anHourAgo = std::filesystem::last_write_time(file) - std::chrono::hours(1);
        std::filesystem::last_write_time(file, anHourAgo);
        WriteSetting(TStringList{folder.Dir() + "\\"}, "AtRevision", c.value);
        EXPECT_EQ(std::filesystem::last_write_time(file) != anHourAgo, c.written);
        EXPECT_EQ(folder.Read("_settings.ini") != c.before, c.written);
    }
}
