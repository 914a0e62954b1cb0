#include "ui/MessageBoxes.h"

#include <gtest/gtest.h>

using namespace orvex;

TEST(ErrorBoxText, AppendsAFullStopAfterCharactersSortingAfterIt) {
    EXPECT_EQ(ErrorBoxText("'yes' is not a valid integer value"), "'yes' is not a valid integer value.");
    EXPECT_EQ(ErrorBoxText("I/O error 3"), "I/O error 3.");
    EXPECT_EQ(ErrorBoxText("C:\\x/"), "C:\\x/.");         // "/" sorts right after "."
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Unable to write to (x)"), "Unable to write to (x)");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("dash-"), "dash-");
    EXPECT_EQ(ErrorBoxText("\xCE\xF8\xE8\xE1\xEA\xE0"), "\xCE\xF8\xE8\xE1\xEA\xE0.");  // ANSI Cyrillic
    EXPECT_EQ(ErrorBoxText(""), "");
}
