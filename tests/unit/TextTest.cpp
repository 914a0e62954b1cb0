#include "base/Exceptions.h"
#include "base/Text.h"

#include <gtest/gtest.h>

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
