#include "base/Exceptions.h"
#include "base/Profile.h"
#include "common/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

using namespace orvex;
using orvex::test::ScratchFolder;
using orvex::test::ReadWholeFile;

namespace {

// The non-blank lines of a file, without their line ends.
std::vector<std::string> NonBlankLines(const std::string& content) {
    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(ReadProfileString, MatchesNamesWithoutCaseAndCleansValues) {
    ScratchFolder folder;
    const auto file = folder.Write("a.ini",
                                   "[Main]\r\n"
                                   "  NewsUrl = http://news/  \r\n"
                                   "Quoted=\"a b\"\r\n"
                                   "Single='x'\r\n"
                                   "Padded=\"  p  \"  \r\n"
                                   "OpenQuote=\"abc\r\n"
                                   "Mixed=\"abc'\r\n"
                                   "Inner=\"a\"b\"\r\n"
                                   "Empty=\r\n"
                                   "Equals=a=b ;c\r\n"
                                   "Tabs\t=\tv\t\r\n");
    EXPECT_EQ(ReadProfileString(file, "MAIN", "newsurl", "d"), "http://news/");
    EXPECT_EQ(ReadProfileString(file, "main", "Quoted", "d"), "a b");
    EXPECT_EQ(ReadProfileString(file, "main", "Single", "d"), "x");
    EXPECT_EQ(ReadProfileString(file, "main", "Padded", "d"), "  p  ");
    EXPECT_EQ(ReadProfileString(file, "main", "OpenQuote", "d"), "\"abc");
    EXPECT_EQ(ReadProfileString(file, "main", "Mixed", "d"), "\"abc'");
    EXPECT_EQ(ReadProfileString(file, "main", "Inner", "d"), "a\"b");
    EXPECT_EQ(ReadProfileString(file, "main", "Empty", "d"), "");
    EXPECT_EQ(ReadProfileString(file, "main", "Equals", "d"), "a=b ;c");
    EXPECT_EQ(ReadProfileString(file, "main", "Tabs", "d"), "v");
}

TEST(ReadProfileString, TakesTheDefaultForWhatIsNotAKeyOfTheSection) {
    ScratchFolder folder;
    const auto file = folder.Write("a.ini",
                                   "Top=1\r\n"
                                   "[main]\r\n"
                                   "NoEquals\r\n"
                                   ";Commented=1\r\n"
                                   "[main\r\n"
                                   "Unclosed=1\r\n");
    EXPECT_EQ(ReadProfileString(file, "main", "Top", "d"), "d");
    EXPECT_EQ(ReadProfileString(file, "main", "NoEquals", "d"), "d");
    EXPECT_EQ(ReadProfileString(file, "main", "Commented", "d"), "d");
    EXPECT_EQ(ReadProfileString(file, "main", "Unclosed", "d"), "1");  // "[main" is no header
    EXPECT_EQ(ReadProfileString(file, "other", "Top", "d"), "d");
    EXPECT_EQ(ReadProfileString(folder.OsFile("missing.ini"), "main", "Top", "d"), "d");
    EXPECT_EQ(ReadProfileString(file, "main", "Absent", "dflt  "), "dflt");
    EXPECT_EQ(ReadProfileString(file, "main", "Absent", ""), "");
}

TEST(ReadProfileString, FirstOfDuplicateSectionsAndKeysWins) {
    ScratchFolder folder;
    const auto file = folder.Write("a.ini",
                                   "[main]\r\nA=first\r\nA=second\r\n"
                                   "[other]\r\nB=1\r\n"
                                   "[MAIN]\r\nA=third\r\nC=later\r\n");
    EXPECT_EQ(ReadProfileString(file, "main", "A", "d"), "first");
    EXPECT_EQ(ReadProfileString(file, "main", "C", "d"), "d");
}

TEST(ReadProfileString, ReadsCommonFileVariantsAndCutsLongValues) {
    ScratchFolder folder;
    const std::string longValue(3000, 'L');
    const auto lf = folder.Write("lf.ini", "[main]\nA=lf\nLong=" + longValue + "\n");
    EXPECT_EQ(ReadProfileString(lf, "main", "A", "d"), "lf");
    EXPECT_EQ(ReadProfileString(lf, "main", "Long", "d"), longValue.substr(0, 2047));
    const auto quotedLong = folder.Write("q.ini", "[main]\r\nLong=\"" + longValue + "\"\r\n");
    EXPECT_EQ(ReadProfileString(quotedLong, "main", "Long", "d"), longValue.substr(0, 2047));
    EXPECT_EQ(ReadProfileString(lf, "main", "Absent", longValue), longValue.substr(0, 2047));

    const auto odd = folder.Write("odd.ini", "\xEF\xBB\xBF  [main] note\r\n   A=bom\r\nB=last");
    EXPECT_EQ(ReadProfileString(odd, "main", "A", "d"), "bom");
    EXPECT_EQ(ReadProfileString(odd, "main", "B", "d"), "last");
}

TEST(WriteProfileString, ReplacesTheKeyInPlaceAndKeepsEveryOtherLine) {
    ScratchFolder folder;
    const std::string before =
        "; settings\r\n"
        "Top=1\r\n"
        "[main]\r\n"
        "NewsUrl=http://n/\r\n"
        "; keep me\r\n"
        "AtRevision=3\r\n"
        "RunCustom=system\\orvex.exe\r\n"
        "[other]\r\n"
        "AtRevision=9\r\n"
        "[main]\r\n"
        "AtRevision=5\r\n";
    const auto file = folder.Write("a.ini", before);
    WriteProfileString(file, "MAIN", "atrevision", "12");
    std::string expected = before;
    expected.replace(expected.find("AtRevision=3"), 12, "AtRevision=12");
    EXPECT_EQ(ReadWholeFile(file), expected);
    EXPECT_EQ(ReadProfileString(file, "main", "AtRevision", "d"), "12");
}

TEST(WriteProfileString, AddsAMissingKeyToItsSectionAndAMissingSectionAtTheEnd) {
    ScratchFolder folder;
    const auto file = folder.Write("a.ini", "[main]\r\nA=1\r\n;c\r\n[other]\r\nB=2");
    WriteProfileString(file, "other", "C", "3");
    EXPECT_EQ(ReadWholeFile(file), "[main]\r\nA=1\r\n;c\r\n[other]\r\nB=2\r\nC=3\r\n");
    WriteProfileString(file, "main", "Installed", "1");
    EXPECT_EQ(ReadWholeFile(file), "[main]\r\nA=1\r\n;c\r\nInstalled=1\r\n[other]\r\nB=2\r\nC=3\r\n");
    WriteProfileString(file, "game", "K", "v");
    EXPECT_EQ(ReadWholeFile(file), "[main]\r\nA=1\r\n;c\r\nInstalled=1\r\n[other]\r\nB=2\r\nC=3\r\n[game]\r\nK=v\r\n");

    const auto created = folder.OsFile("new.ini");
    WriteProfileString(created, "main", "Installed", "1");
    EXPECT_EQ(ReadWholeFile(created), "[main]\r\nInstalled=1\r\n");
    const auto empty = folder.Write("empty.ini", "");
    WriteProfileString(empty, "main", "Installed", "1");
    EXPECT_EQ(ReadWholeFile(empty), "[main]\r\nInstalled=1\r\n");
}

TEST(WriteProfileString, PlacesKeysRightInFilesWithBlankLinesAndLfEnds) {
    ScratchFolder folder;
    const auto file = folder.Write("a.ini", "[main]\n\nA=1\n\n[other]\nB=2\n");
    WriteProfileString(file, "main", "C", "3");
    WriteProfileString(file, "main", "A", "5");
    EXPECT_EQ(NonBlankLines(ReadWholeFile(file)), (std::vector<std::string>{"[main]", "A=5", "C=3", "[other]", "B=2"}));
    EXPECT_EQ(ReadProfileString(file, "main", "A", "d"), "5");
    EXPECT_EQ(ReadProfileString(file, "main", "C", "d"), "3");
    EXPECT_EQ(ReadProfileString(file, "other", "B", "d"), "2");
}

TEST(WriteProfileString, RaisesUnableToWriteWithTheFullPath) {
    ScratchFolder folder;
    const auto inMissingFolder = (folder.Path() / "missing" / "a.ini").string();
    try {
        WriteProfileString(inMissingFolder, "main", "A", "1");
        ADD_FAILURE() << "write into a missing folder accepted";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + inMissingFolder);
    }
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "missing"));

    std::filesystem::create_directory(folder.Path() / "folder.ini");
    const auto aFolder = folder.OsFile("folder.ini");
    try {
        WriteProfileString(aFolder, "main", "A", "1");
        ADD_FAILURE() << "write over a folder accepted";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + aFolder);
    }
    EXPECT_TRUE(std::filesystem::is_directory(aFolder));
    EXPECT_TRUE(std::filesystem::is_empty(aFolder));
}

// A value a read would cut or end early is never written: the file stays as it was.
TEST(WriteProfileString, WritesOnlyValuesThatReadBackWhole) {
    ScratchFolder folder;
    const auto file = folder.Write("a.ini", "[main]\r\nA=old\r\n");
    const struct {
        const char* name;
        std::string value;
        bool written;
    } cases[] = {
        {"the longest a read returns", std::string(2047, 'k'), true},
        {"one character more", std::string(2048, 'k'), false},
        {"a line break", "RWQ1\r\nAtRevision=9", false},
        {"a bare line feed", "RWQ1\nRWQ2", false},
    };
    for (const auto& c : cases) {
        const std::string before = ReadWholeFile(file);
        try {
            WriteProfileString(file, "main", "A", c.value);
            EXPECT_TRUE(c.written) << c.name;
            EXPECT_EQ(ReadProfileString(file, "main", "A", "d"), c.value) << c.name;
        } catch (const EIniFileException& e) {
            EXPECT_FALSE(c.written) << c.name << ": " << e.what();
            EXPECT_EQ(ReadWholeFile(file), before) << c.name;
        }
    }
}
