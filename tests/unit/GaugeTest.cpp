#include "base/Exceptions.h"
#include "update/Gauge.h"

#include <gtest/gtest.h>

#include <climits>

using namespace orvex;

TEST(TGaugeModel, ClampsPositionsAndAPositionAboveTheMaximumStaysLostWhenTheMaximumDrops) {
    TGaugeModel gauge;
    ASSERT_NO_THROW(gauge.SetMaxValue(1000));
    gauge.SetProgress(5000);
    EXPECT_EQ(gauge.Progress(), 1000);
    EXPECT_EQ(gauge.PercentDone(), 100);
    gauge.SetMaxValue(400);
    EXPECT_EQ(gauge.Progress(), 400);
    gauge.SetMaxValue(2000);
    EXPECT_EQ(gauge.Progress(), 400);  // not the 1000 it was before
    EXPECT_EQ(gauge.PercentDone(), 20);
    gauge.SetProgress(-5);
    EXPECT_EQ(gauge.Progress(), 0);
}

TEST(TGaugeModel, RefusesAMaximumBelowTheMinimumAndKeepsItsState) {
    TGaugeModel gauge;
    gauge.SetProgress(30);
    try {
        gauge.SetMaxValue(-1);
        FAIL() << "accepted -1";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Value must be between 0 and 2147483647");
    }
    EXPECT_THROW(gauge.SetMaxValue(INT_MIN), EInvalidOperation);
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 30);
    EXPECT_NO_THROW(gauge.SetMaxValue(0));  // an empty range is allowed and shows 0 %
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.PercentDone(), 0);
}

TEST(TGaugeModel, AsksForARepaintOnlyWhenTheWholePercentageChanges) {
    TGaugeModel gauge;
    gauge.SetMaxValue(3000);
    EXPECT_FALSE(gauge.SetProgress(29));    // 0 %
    EXPECT_TRUE(gauge.SetProgress(30));     // 1 %
    EXPECT_FALSE(gauge.SetProgress(59));    // still 1 %
    EXPECT_TRUE(gauge.SetProgress(3000));   // 100 %
    EXPECT_FALSE(gauge.SetProgress(9999));  // clamped, still 100 %
    EXPECT_TRUE(gauge.SetMaxValue(6000));   // 50 %
    EXPECT_TRUE(gauge.SetMaxValue(6001));   // 49.99 % shows as 49 %
    EXPECT_FALSE(gauge.SetMaxValue(6002));  // still 49 %
}

TEST(TGaugeModel, PercentageOfLargeRangesDoesNotOverflow) {
    TGaugeModel gauge;
    gauge.SetMaxValue(INT_MAX);
    gauge.SetProgress(INT_MAX - 1);
    EXPECT_EQ(gauge.PercentDone(), 99);
    gauge.SetProgress(INT_MAX);
    EXPECT_EQ(gauge.PercentDone(), 100);
}
