#include "base/IniText.h"

#include <gtest/gtest.h>

using namespace orvex;

// What our own profile functions decide beyond what the Windows functions show under Wine: the
// file text outside the written key stays byte for byte, blank lines and line ends included.

TEST(IniSetValue, KeepsBlankLinesAndPutsANewKeyBeforeThem) {
    EXPECT_EQ(ini::SetValue("[main]\r\n\r\nA=1\r\n\r\n\r\n[other]\r\nB=2\r\n", "main", "C", "3"),
              "[main]\r\n\r\nA=1\r\nC=3\r\n\r\n\r\n[other]\r\nB=2\r\n");
    EXPECT_EQ(ini::SetValue("[main]\r\n\r\n[other]\r\n", "main", "C", "3"), "[main]\r\nC=3\r\n\r\n[other]\r\n");
    EXPECT_EQ(ini::SetValue("[main]\r\n  A = 1 ; why\r\n\r\n", "main", "a", "2"), "[main]\r\nA=2\r\n\r\n");
}

TEST(IniSetValue, FollowsTheFileLineEnds) {
    EXPECT_EQ(ini::SetValue("[main]\nA=1\n", "main", "B", "2"), "[main]\nA=1\nB=2\n");
    EXPECT_EQ(ini::SetValue("[main]\nA=1\n", "s", "B", "2"), "[main]\nA=1\n[s]\nB=2\n");
    EXPECT_EQ(ini::SetValue("[main]\nA=1", "main", "A", "2"), "[main]\nA=2");
    EXPECT_EQ(ini::SetValue("[main]", "main", "A", "2"), "[main]\r\nA=2\r\n");
    EXPECT_EQ(ini::SetValue("", "main", "A", "2"), "[main]\r\nA=2\r\n");
}

TEST(IniSetValue, KeepsAByteOrderMarkAndWritesAfterIt) {
    EXPECT_EQ(ini::SetValue("\xEF\xBB\xBF[main]\r\nA=1\r\n", "main", "A", "2"), "\xEF\xBB\xBF[main]\r\nA=2\r\n");
    EXPECT_EQ(ini::SetValue("\xEF\xBB\xBF", "main", "A", "2"), "\xEF\xBB\xBF[main]\r\nA=2\r\n");
    EXPECT_EQ(*ini::FindValue("\xEF\xBB\xBF[main]\r\nA=1\r\n", "main", "A"), "1");
}

TEST(IniSetValue, DropsLeadingBlanksOfTheValueAndTrimsNames) {
    EXPECT_EQ(ini::SetValue("[main]\r\n", " main ", " A ", "  v  "), "[main]\r\nA=v  \r\n");
}
