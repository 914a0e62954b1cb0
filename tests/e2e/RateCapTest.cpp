// MaxRate as the server sees it: several transfers sharing one budget, full-speed bodies, the bytes
// the server sent counted in every 10 s window.
#include "BrokenServer.h"
#include "common/ScratchFolder.h"

#include "update/Download.h"
#include "update/RateBudget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace orvex;
using namespace orvex::test;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto Measured = std::chrono::seconds(12);
constexpr auto Settling = std::chrono::seconds(1);  // the sockets' buffers fill at full speed
constexpr auto Window = std::chrono::seconds(10);
constexpr auto WindowStep = std::chrono::milliseconds(100);
constexpr int Transfers = 4;

// Ends a transfer at its first read after the measured time.
struct TimeIsUp {};

// The bytes the log says were sent by at.
uint64_t SentUntil(const std::vector<SentBy>& log, Clock::time_point at) {
    const auto after = std::upper_bound(log.begin(), log.end(), at,
                                        [](Clock::time_point t, const SentBy& sent) { return t < sent.At; });
    return after == log.begin() ? 0 : std::prev(after)->Total;
}

// Runs Transfers downloads of endless bodies side by side for Measured, all under one budget;
// the server's log of what it sent, and when they began and the first of them was ended.
struct CappedRun {
    std::vector<SentBy> Log;
    Clock::time_point Start, End;
};

CappedRun RunCapped(uint64_t bytesPerSecond) {
    BrokenServer server;
    server.Serve("endless", Behaviour::EndlessBody);
    ScratchFolder folder;
    TTransferLimits limits;
    limits.Budget = std::make_shared<TRateBudget>(bytesPerSecond);
    CappedRun run;
    run.Start = Clock::now();
    const Clock::time_point until = run.Start + Measured;
    std::vector<std::thread> threads;
    for (int i = 0; i < Transfers; ++i)
        threads.emplace_back([&, i] {
            try {
                DownloadToFile(server.Url("endless"), folder.File("body" + std::to_string(i)), uint64_t{1} << 40, limits,
                               [until](uint64_t, uint32_t) {
                                   if (Clock::now() >= until) throw TimeIsUp{};
                               });
            } catch (const TimeIsUp&) {
            }
        });
    for (std::thread& thread : threads) thread.join();
    run.End = until;
    run.Log = server.SentLog();
    return run;
}

}  // namespace

TEST(RateCap, EveryTenSecondWindowHoldsTheRateWithinFivePercent) {
    for (const uint64_t rate : {uint64_t{1} << 20, uint64_t{10} << 20}) {
        const CappedRun run = RunCapped(rate);
        ASSERT_FALSE(run.Log.empty());
        const uint64_t expected = rate * static_cast<uint64_t>(Window / std::chrono::seconds(1));
        int windows = 0;
        uint64_t fewest = UINT64_MAX, most = 0;
        for (auto from = run.Log.front().At + Settling; from + Window <= run.End; from += WindowStep, ++windows) {
            const uint64_t sent = SentUntil(run.Log, from + Window) - SentUntil(run.Log, from);
            fewest = std::min(fewest, sent);
            most = std::max(most, sent);
            const auto offset = std::chrono::duration_cast<std::chrono::milliseconds>(from - run.Start).count();
            EXPECT_NEAR(static_cast<double>(sent), static_cast<double>(expected), 0.05 * static_cast<double>(expected))
                << rate << " bytes/s, the window from " << offset << " ms";
        }
        EXPECT_GE(windows, 5) << rate << " bytes/s";
        std::printf("%llu bytes/s: %d windows of 10 s, %.2f%% to %.2f%% of the rate\n",
                    static_cast<unsigned long long>(rate), windows, 100.0 * static_cast<double>(fewest) / static_cast<double>(expected),
                    100.0 * static_cast<double>(most) / static_cast<double>(expected));
    }
}
