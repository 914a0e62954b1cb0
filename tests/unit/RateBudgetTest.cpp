#include "update/Limits.h"
#include "update/RateBudget.h"
#include "update/RunSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

using namespace orvex;
using namespace std::chrono_literals;

// 1000 bytes per second with a burst of 100 ms: 100 bytes at once from a full bucket, then each
// byte a millisecond later than the one before; an idle second fills the bucket again, no more.
TEST(RateBudget, PaysForEachTakeAtTheRateAfterOneBurst) {
    const struct {
        std::chrono::milliseconds at;
        uint64_t bytes;
        std::chrono::milliseconds paid;
    } steps[] = {
        {0ms, 100, 0ms},       // the full bucket
        {0ms, 50, 50ms},       // in debt
        {0ms, 1, 51ms},
        {20ms, 10, 61ms},      // the debt is not forgiven by waiting less than it
        {1000ms, 100, 1000ms},  // full again, and not fuller
        {1000ms, 1, 1001ms},
        {2000ms, 2000, 3900ms},  // more than a burst at once: paid for all the same
        {2500ms, 0, 3900ms},
    };
    TRateBudget budget(1000, 100ms);
    const TRateBudget::Clock::time_point start{std::chrono::hours(1)};
    for (const auto& step : steps)
        EXPECT_EQ(budget.Reserve(step.bytes, start + step.at) - start, step.paid) << "at " << step.at.count() << " ms";
}

TEST(RateBudget, RoundsTheCostUpAndSlicesReadsToABurst) {
    TRateBudget third(3, 0ms);
    const TRateBudget::Clock::time_point start{};
    third.Reserve(1, start);
    third.Reserve(1, start);
    EXPECT_GE(third.Reserve(1, start) - start, 1s) << "3 bytes at 3 bytes/s take at least a second";

    const struct {
        uint64_t rate;
        std::size_t cap, slice;
    } cases[] = {{1 << 20, 16384, 16384}, {1 << 20, 1 << 20, 104857}, {1000, 1024, 100}, {5, 1024, 1}};
    for (const auto& c : cases) EXPECT_EQ(TRateBudget(c.rate).Slice(c.cap), c.slice) << c.rate << " " << c.cap;
}

TEST(RateValue, DigitsWithKOrMWithinFourGiBPerSecond) {
    const struct {
        const char* text;
        std::optional<uint64_t> rate;
    } cases[] = {
        {"", 0},           {"0", 0},
        {"512", 512},      {"512K", 524288},
        {"512k", 524288},  {"2M", 2097152},
        {"2m", 2097152},   {"0M", 0},
        {"4095M", 4095ull << 20}, {"4294967295", 4294967295ull},
        {"4294967296", std::nullopt}, {"4096M", std::nullopt},
        {"99999999999999999999", std::nullopt}, {"-1", std::nullopt},
        {"1.5M", std::nullopt}, {"K", std::nullopt},
        {"1KB", std::nullopt}, {"1G", std::nullopt},
        {" 1", std::nullopt}, {"1 ", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(RateValue(c.text), c.rate) << '"' << c.text << '"';
}

// A run with MaxRate makes one budget for its transfers, and no transfer is then given up as too
// slow for the share of the cap it gets; without one, nothing changes.
TEST(TransferLimitsOf, MakesABudgetOnlyForACap) {
    TRunLimits limits;
    EXPECT_EQ(TransferLimitsOf(limits).Budget, nullptr);
    EXPECT_EQ(TransferLimitsOf(limits).MinBytesPerSecond, limits.Transfer.MinBytesPerSecond);
    limits.MaxRate = 16 * 1024;
    const TTransferLimits capped = TransferLimitsOf(limits);
    ASSERT_NE(capped.Budget, nullptr);
    EXPECT_EQ(capped.MinBytesPerSecond, 256u);
    limits.MaxRate = 2 << 20;
    EXPECT_EQ(TransferLimitsOf(limits).MinBytesPerSecond, limits.Transfer.MinBytesPerSecond);
}
