#include "update/SpacePlan.h"

#include <gtest/gtest.h>

using namespace orvex;

// Staging keeps every new file beside the installed ones with the largest download; one at a time
// needs room for what the replaced files grew by and the largest file with its download. Backups
// keep every replaced version besides.
TEST(SpacePlan, StagesWhatFitsReplacesOneAtATimeWhatDoesNotAndRefusesTheRest) {
    const std::vector<TSpaceItem> items = {{10, 40, 50}, {30, 35, 20}, {5, 5, 0}};
    const TSpaceNeed backedUp = SpaceNeeded(items, true);
    EXPECT_EQ(backedUp.Staged, 40u + 35u + 5u + 50u + 20u + 30u);
    EXPECT_EQ(backedUp.OneAtATime, 35u + 5u + (40u + 10u + 50u));
    const TSpaceNeed need = SpaceNeeded(items, false);
    EXPECT_EQ(need.Staged, 40u + 35u + 5u + 30u);
    EXPECT_EQ(need.OneAtATime, 5u + (35u + 30u));
    struct Case {
        uint64_t Available;
        TSpaceVerdict Verdict;
        const char* Notice;
    };
    for (const Case& c : {Case{110, TSpaceVerdict::Staged, ""}, Case{109, TSpaceVerdict::OneAtATime, "one at a time"},
                          Case{70, TSpaceVerdict::OneAtATime, "one at a time"},
                          Case{69, TSpaceVerdict::Refused, "nothing was downloaded"}}) {
        EXPECT_EQ(SpaceVerdict(need, c.Available), c.Verdict) << c.Available;
        EXPECT_NE(SpaceNotice(c.Verdict, need, c.Available).find(c.Notice), std::string::npos) << c.Available;
    }
    EXPECT_EQ(SpaceVerdict(SpaceNeeded({}, true), 0), TSpaceVerdict::Staged);
    EXPECT_EQ(SpaceNotice(TSpaceVerdict::Refused, {0, (5u << 20) + 1}, 3u << 20),
              "Too little free space for the update: 6 MiB needed, 3 MiB free beyond the reserve; nothing was downloaded");
}
