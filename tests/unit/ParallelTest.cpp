#include "util/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace orvex;

TEST(ParallelFor, RunsEveryJobOnceAndRaisesTheFirstFailure) {
    std::vector<std::atomic<int>> runs(500);
    ParallelFor(runs.size(), 4, [&runs](std::size_t i) { ++runs[i]; });
    for (const auto& count : runs) EXPECT_EQ(count, 1);

    const auto failAt3 = [](std::atomic<int>& started) {
        return [&started](std::size_t i) {
            ++started;
            if (i == 3) throw std::runtime_error("job 3");
        };
    };
    std::atomic<int> started{0};
    EXPECT_THROW(ParallelFor(1000, 4, failAt3(started)), std::runtime_error);
    // On one thread nothing starts after the failure.
    started = 0;
    EXPECT_THROW(ParallelFor(1000, 1, failAt3(started)), std::runtime_error);
    EXPECT_EQ(started, 4);
}
