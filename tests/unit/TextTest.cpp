#include "base/Exceptions.h"
#include "base/Text.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace orvex;

TEST(StrToInt, AcceptsDecimalWithSignAndHexadecimalPrefixes) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("-17"), -17);
    EXPECT_EQ(StrToInt("+42"), 42);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("0XfF"), 255);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
}

TEST(StrToInt, RefusesEverythingElseWithTheIntegerMessage) {
    for (const char* bad : {"", " ", "12 ", "1a", "yes", "--1", "0x", "$", "2147483648", "-2147483649", "1.5", "$100000000"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(StrToIntDef("yes", 7), 7);
    EXPECT_EQ(StrToIntDef("12", 7), 12);
}

TEST(StrToBool, TakesWordsInAnyCaseOrNumbers) {
    EXPECT_TRUE(StrToBool("TRUE"));
    EXPECT_FALSE(StrToBool("False"));
    EXPECT_TRUE(StrToBool("-1"));
    EXPECT_FALSE(StrToBool("0"));
    EXPECT_THROW(StrToBool("yes"), EConvertError);
    try {
        StrToBool("on");
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'on' is not a valid boolean value");
    }
}

TEST(Trim, RemovesControlCharactersAndSpacesAtBothEnds) {
    EXPECT_EQ(Trim(" \t\r\n a b \x01\x1f "), "a b");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim("\x7f"), "\x7f");
    EXPECT_EQ(Trim(std::string("\0x\0", 3)), "x");
}

TEST(SplitOnSpaces, RunsOfSpacesAndTabsAreOneGapAndNoItemIsEmpty) {
    const struct {
        const char* text;
        std::vector<std::string> items;
    } cases[] = {
        {"", {}},
        {" \t  ", {}},
        {"one", {"one"}},
        {"  a \t\tb  c\t", {"a", "b", "c"}},
        {"http://x/ http://y/", {"http://x/", "http://y/"}},
        {"a\nb", {"a\nb"}},  // only spaces and tabs separate
    };
    for (const auto& c : cases) EXPECT_EQ(SplitOnSpaces(c.text), c.items) << '"' << c.text << '"';
}

TEST(TextHelpers, CompareAndFoldOnlyAsciiLetters) {
    EXPECT_TRUE(StartsWith("untrusted comment: x", "untrusted comment: "));
    EXPECT_FALSE(StartsWith("untrusted", "untrusted comment: "));
    EXPECT_TRUE(EndsWith("a.localhost", ".localhost"));
    EXPECT_TRUE(EndsWith("::", "::"));
    EXPECT_FALSE(EndsWith("localhost", ".localhost"));
    EXPECT_TRUE(StartsWith("x", "") && EndsWith("x", ""));

    EXPECT_EQ(LowerAscii("Data\\GAME.Dat \xC4\xD6"), "data\\game.dat \xC4\xD6");
    EXPECT_EQ(LowerAscii('Z'), 'z');
    EXPECT_EQ(LowerAscii('['), '[');
    EXPECT_TRUE(SameTextAscii("_SETTINGS.ini", "_settings.INI"));
    EXPECT_FALSE(SameTextAscii("\xC4", "\xE4"));  // other code pages' letters are not folded
    EXPECT_FALSE(SameTextAscii("ab", "abc"));
    EXPECT_EQ(Quoted("a b"), "\"a b\"");
}

TEST(EscapeBytes, WritesTheChosenBytesAsPrefixAndTwoUppercaseDigits) {
    const auto controls = [](unsigned char byte) { return byte < 0x20 || byte == 0x7F; };
    EXPECT_EQ(EscapeBytes(std::string("a\x1b[2J\x7f\0\xFF", 8), "\\x", controls), "a\\x1B[2J\\x7F\\x00\xFF");
    EXPECT_EQ(EscapeBytes("a b", "%", [](unsigned char byte) { return byte == ' '; }), "a%20b");
    EXPECT_EQ(EscapeBytes("", "%", controls), "");
}

// Format is the program's own; every conversion the program's texts use gives what the C library
// gives.
template <typename... Args>
void ExpectLikePrintf(const char* fmt, Args... args) {
    char expected[256];
    std::snprintf(expected, sizeof expected, fmt, args...);
    EXPECT_EQ(Format(fmt, args...), expected) << fmt;
}

TEST(Format, GivesWhatPrintfGivesForTheConversionsInUse) {
    ExpectLikePrintf("I/O error %d", 123);
    ExpectLikePrintf("%d|%i|%d", INT32_MIN, -7, 0);
    ExpectLikePrintf("%u %x %X %.8X %.0d|", 4294967295u, 0xbeefu, 0xbeefu, 0x1fu, 0);
    ExpectLikePrintf("%llX %016llx %lld", 0x12345678ABCDEFull, 0xabcull, -9223372036854775807LL - 1);
    ExpectLikePrintf("%zu %ld %lu", std::size_t{4096}, -5L, 6UL);
    ExpectLikePrintf("[%5d] [%-5d] [%05d] [%-3s] [%6s] [%.2s] [%c]", -42, 42, -42, "ab", "ab", "abc", 'z');
    ExpectLikePrintf("Cannot create file \"%s\". %s", "C:\\game\\a.txt", "Access denied");
    ExpectLikePrintf("100%% done, %s", "");
}
