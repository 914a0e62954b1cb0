#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "formats/LstFile.h"
#include "formats/UpdateList.h"

#include <gtest/gtest.h>

#include <optional>

using namespace orvex;
using orvex::test::ScratchFolder;

namespace {

const TStringList Fail{"FAIL"};

enum class Source { File, Stream, Text };

// Every reading rule holds alike for a list on disk, in a caller's stream and in memory.
class ListFile : public ::testing::TestWithParam<Source> {
protected:
    TListFile& Open(const std::string& content) {
        list.reset();  // it keeps the file open, which stops rewriting it on Windows
        switch (GetParam()) {
        case Source::File:
            scratch.Write("files.lst", content);
            list.emplace(scratch.File("files.lst"));
            break;
        case Source::Stream:
            stream.emplace(std::vector<uint8_t>(content.begin(), content.end()));
            stream->Seek(0, SeekOrigin::End);  // a read starts at the top wherever the stream stands
            list.emplace(*stream);
            break;
        case Source::Text:
            list.emplace(TListFile::FromText(content));
            break;
        }
        return *list;
    }

    ScratchFolder scratch;
    std::optional<TMemoryStream> stream;
    std::optional<TListFile> list;
};

}  // namespace

TEST_P(ListFile, SectionsGiveTheirTrimmedNonEmptyLinesInOrder) {
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

TEST_P(ListFile, AbsentEmptyOrDifferentlySpelledSectionsAnswerFail) {
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

TEST_P(ListFile, OnlyTheFirstSectionOfANameIsRead) {
    auto& lst = Open("[files_normal]\na|1|1\n[/files_normal]\n[files_normal]\nb|2|2\n[/files_normal]\n");
    EXPECT_EQ(lst.GetSection("files_normal"), (TStringList{"a|1|1"}));
}

TEST_P(ListFile, AMissingClosingLineStopsAtTheEndOfTheFile) {
    EXPECT_EQ(Open("[self]\nOrvexUpdater.exe|abc|5").GetSection("self"), (TStringList{"OrvexUpdater.exe|abc|5"}));
    EXPECT_EQ(Open("[self]\n\n").GetSection("self"), Fail);
    EXPECT_EQ(Open("[settings]\nRev|3\n").GetValue("settings", "Rev"), "3");
    EXPECT_EQ(Open("[settings]\nRev|3\n").GetValue("settings", "ModHosts"), "");
}

TEST_P(ListFile, ValuesComeFromTheLastFieldOfTheLineWhoseFirstFieldIsTheKey) {
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

TEST_P(ListFile, ReadsAreIndependentAndTakeLinesOfAnyLength) {
    const std::string longPath(300000, 'p');
    auto& lst = Open("[settings]\nRev|4\n[/settings]\n[files_normal]\n" + longPath + "|d41d|0\n[/files_normal]");
    EXPECT_EQ(lst.GetSection("files_normal"), (TStringList{longPath + "|d41d|0"}));
    EXPECT_EQ(lst.GetValue("settings", "Rev"), "4");
    EXPECT_EQ(lst.GetSection("files_normal"), (TStringList{longPath + "|d41d|0"}));
    EXPECT_EQ(lst.GetValue("settings", "Rev"), "4");
}

INSTANTIATE_TEST_SUITE_P(Sources, ListFile, ::testing::Values(Source::File, Source::Stream, Source::Text));

TEST(ListFileOnDisk, AFileThatCannotBeOpenedRaisesAtTheFirstRead) {
    ScratchFolder scratch;
    TListFile lst(scratch.File("missing.lst"));  // binding opens nothing
    EXPECT_THROW(lst.GetSection("self"), EFOpenError);
    EXPECT_THROW(lst.GetValue("settings", "Rev"), EFOpenError);
}

// Entries as the launcher reads them: fields counted from the end, empty ones not counted.
TEST(ListEntry, FieldsCountFromTheEndOfTheLine) {
    struct {
        const char* Line;
        std::size_t Count;
        const char* Path;
        const char* MD5;
        const char* Size;
    } const cases[] = {
        {"data\\a.txt|0123|10", 3, "data\\a.txt", "0123", "10"},
        {"extra|data\\a.txt|0123|10", 4, "data\\a.txt", "0123", "10"},
        {"a||0123||10|", 3, "a", "0123", "10"},
        {"0123|10", 2, "", "0123", "10"},
        {"", 0, "", "", ""},
    };
    for (const auto& c : cases) {
        const TListEntry entry = SplitListEntry(c.Line);
        EXPECT_EQ(entry.FieldCount, c.Count) << c.Line;
        EXPECT_EQ(entry.Path, c.Path) << c.Line;
        EXPECT_EQ(entry.MD5, c.MD5) << c.Line;
        EXPECT_EQ(entry.Size, c.Size) << c.Line;
        if (c.Count < 3)
            EXPECT_THROW(ReadListEntry(c.Line), EListError) << c.Line;
        else
            EXPECT_EQ(ReadListEntry(c.Line).Path, c.Path) << c.Line;
    }
    const TListEntry entry = ReadListEntry(FormatListEntry("data\\sub dir\\b.bin", "d41d", 2147483648));
    EXPECT_EQ(entry.Size, "2147483648");
    EXPECT_EQ(entry.CopyName(), "data\\sub dir\\b.bin.bz2");
    EXPECT_EQ(entry.CopyAddress(), "data/sub dir/b.bin.bz2");
}

// A signed list's SIZE is the copy's exact size; an unsigned one's only bounds an endless body.
TEST(ListEntry, TheLongestCopyBodyIsExactForSignedListsAndRoomyForOthers) {
    constexpr uint64_t MiB = uint64_t{1} << 20;
    struct {
        const char* Size;
        bool Exact;
        uint64_t Longest;
    } const cases[] = {
        {"1000", true, 1000},
        {"0", true, 0},
        {"0", false, 64 * MiB},
        {"-5", false, 64 * MiB},
        {"24", false, 24 + 64 * MiB},
        {"536870912", false, 512 * MiB + 64 * MiB},   // an eighth is exactly 64 MiB
        {"1073741824", false, 1024 * MiB + 128 * MiB},  // an eighth is more
        {"2147483647", false, 2147483647ull + 2147483647ull / 8},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadListEntry(std::string("a.txt|0123|") + c.Size).MaxCopyBody(c.Exact), c.Longest)
            << c.Size << (c.Exact ? " exact" : "");
    EXPECT_THROW(static_cast<void>(ReadListEntry("a.txt|0123|big").MaxCopyBody(false)), EConvertError);
}
