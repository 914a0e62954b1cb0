#include "util/OrderedAhead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

using namespace orvex;
using namespace std::chrono_literals;

TEST(OrderedAhead, ResultsComeInOrderWithinTheWindowAndAFailureAtItsPlace) {
    constexpr std::size_t Count = 60, Window = 4, Failing = 37;
    for (const unsigned threads : {0u, 1u, 3u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        std::atomic<std::size_t> taken{0}, beyondWindow{0};
        std::atomic<unsigned> running{0}, mostRunning{0};
        TOrderedAhead<std::size_t> ahead(Count, threads, Window, [&](std::size_t i, std::stop_token) {
            // taken counts a result once Take() has returned it, the window moves as it returns.
            if (i > taken + Window) ++beyondWindow;
            const unsigned now = ++running;
            unsigned most = mostRunning;
            while (now > most && !mostRunning.compare_exchange_weak(most, now)) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(std::minstd_rand(static_cast<unsigned>(i))() % 2000));
            --running;
            if (i == Failing) throw std::runtime_error("job " + std::to_string(i));
            return i * i;
        });
        for (std::size_t i = 0; i < Count; ++i, ++taken) {
            if (i == Failing) {
                EXPECT_THROW(ahead.Take(), std::runtime_error);
            } else {
                EXPECT_EQ(ahead.Take(), i * i);
            }
        }
        EXPECT_THROW(ahead.Take(), std::out_of_range);
        EXPECT_EQ(beyondWindow, 0u);
        EXPECT_LE(mostRunning, std::max(threads, 1u));
    }
}

TEST(OrderedAhead, GoingAwayStopsTheRunningJobsAndStartsNoOther) {
    std::atomic<int> started{0}, stopped{0};
    {
        TOrderedAhead<int> ahead(100, 2, 8, [&](std::size_t, std::stop_token stop) {
            ++started;
            while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
            ++stopped;
            return 0;
        });
        while (started < 2) std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(started, 2);
    EXPECT_EQ(stopped, 2);
}
