#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "formats/LstFile.h"

#include <gtest/gtest.h>

using namespace orvex;
using orvex::test::ScratchFolder;

namespace {

const TStringList Fail{"FAIL"};

class ListFile : public ::testing::Test {
protected:
    TListFile& Open(const std::string& content) {
        list.reset();  // it keeps the file open, which stops rewriting it on Windows
        scratch.Write("files.lst", content);
        list = std::make_unique<TListFile>(scratch.File("files.lst"));
        return *list;
    }

    ScratchFolder scratch;
    std::unique_ptr<TListFile> list;
};

}  // namespace

TEST_F(ListFile, SectionsGiveTheirTrimmedNonEmptyLinesInOrder) {
    auto& lst = Open(
        "stray line\n"
        "  [files_critical]  \r\n"
        "\tdata\\a.grf|0123|10  \r\n"
        "\r\n"
        "   \n"
        "[self]\n"  // sections do not nest: just an entry
        "b.dll|4567|20\n"
        "[/files_critical]\n"
        "after|1|1\n");
    EXPECT_EQ(lst.GetSection("files_critical"), (TStringList{"data\\a.grf|0123|10", "[self]", "b.dll|4567|20"}));
    // Looking for a tag reads every line from the top, inside other sections too.
    EXPECT_EQ(lst.GetSection("self"), (TStringList{"b.dll|4567|20", "[/files_critical]", "after|1|1"}));
}

TEST_F(ListFile, AbsentEmptyOrDifferentlySpelledSectionsAnswerFail) {
    auto& lst = Open(
        "[self]\r\n[/self]\r\n"
        "[hosts]\r\n\r\n  \r\n[/hosts]\r\n"
        "[Files_normal]\r\na|b|1\r\n[/Files_normal]\r\n");
    EXPECT_EQ(lst.GetSection("self"), Fail);
    EXPECT_EQ(lst.GetSection("hosts"), Fail);
    EXPECT_EQ(lst.GetSection("files_normal"), Fail);
    EXPECT_EQ(lst.GetSection("missing"), Fail);
    EXPECT_EQ(lst.GetValue("settings", "Rev"), "");
}

TEST_F(ListFile, OnlyTheFirstSectionOfANameIsRead) {
    auto& lst = Open("[files_normal]\na|1|1\n[/files_normal]\n[files_normal]\nb|2|2\n[/files_normal]\n");
    EXPECT_EQ(lst.GetSection("files_normal"), (TStringList{"a|1|1"}));
}

TEST_F(ListFile, AMissingClosingLineStopsAtTheEndOfTheFile) {
    EXPECT_EQ(Open("[self]\nOrvexUpdater.exe|abc|5").GetSection("self"), (TStringList{"OrvexUpdater.exe|abc|5"}));
    EXPECT_EQ(Open("[self]\n\n").GetSection("self"), Fail);
    EXPECT_EQ(Open("[settings]\nRev|3\n").GetValue("settings", "Rev"), "3");
    EXPECT_EQ(Open("[settings]\nRev|3\n").GetValue("settings", "ModHosts"), "");
}

TEST_F(ListFile, ValuesComeFromTheLastFieldOfTheLineWhoseFirstFieldIsTheKey) {
    auto& lst = Open(
        "[settings]\r\n"
        "|\r\n"
        "Rev |5\r\n"
        "Mod|Hosts|9\r\n"
        "Rev|12|7\r\n"
        "ModHosts|1\r\n"
        "Rev|99\r\n"
        "[/settings]\r\n"
        "[other]\r\nLone|\r\n||Key||v||\r\n[/other]\r\n"
        "[late]\r\n[/late]\r\nX|1\r\n");
    EXPECT_EQ(lst.GetValue("settings", "Rev"), "7");
    EXPECT_EQ(lst.GetValue("settings", "ModHosts"), "1");
    EXPECT_EQ(lst.GetValue("settings", "Mod"), "9");
    EXPECT_EQ(lst.GetValue("settings", "rev"), "");
    EXPECT_EQ(lst.GetValue("Settings", "Rev"), "");
    EXPECT_EQ(lst.GetValue("other", "Lone"), "Lone");
    EXPECT_EQ(lst.GetValue("other", "Key"), "v");
    EXPECT_EQ(lst.GetValue("late", "X"), "");  // nothing after the closing line is looked at
}

TEST_F(ListFile, ReadsAreIndependentAndTakeLinesOfAnyLength) {
    const std::string longPath(300000, 'p');
    auto& lst = Open("[settings]\nRev|4\n[/settings]\n[files_normal]\n" + longPath + "|d41d|0\n[/files_normal]");
    EXPECT_EQ(lst.GetSection("files_normal"), (TStringList{longPath + "|d41d|0"}));
    EXPECT_EQ(lst.GetValue("settings", "Rev"), "4");
    EXPECT_EQ(lst.GetSection("files_normal"), (TStringList{longPath + "|d41d|0"}));
    EXPECT_EQ(lst.GetValue("settings", "Rev"), "4");
}

TEST_F(ListFile, AFileThatCannotBeOpenedRaisesAtTheFirstRead) {
    TListFile lst(scratch.File("missing.lst"));  // binding opens nothing
    EXPECT_THROW(lst.GetSection("self"), EFOpenError);
    EXPECT_THROW(lst.GetValue("settings", "Rev"), EFOpenError);
}
