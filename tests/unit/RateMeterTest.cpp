#include "update/RateMeter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvex;
using namespace std::chrono_literals;

TEST(RateMeter, RateOverTheLastSecondsAndTheTimeLeft) {
    const TRateMeter::Clock::time_point t0{};
    struct Step {
        std::chrono::milliseconds At;
        int64_t Done;
        const char* Text;
    };
    // 10 MiB at 1 MiB/s for 4 s, then nothing for 4 s: the rate falls to what came since 1 s (the
    // last sample before the window's 5 s), 3 MiB in 7 s.
    const std::vector<Step> steps = {
        {0ms, 0, ""},
        {100ms, 100000, ""},  // too short to tell
        {1000ms, 1048576, "1.0 MiB/s, 0:09 left"},
        {4000ms, 4194304, "1.0 MiB/s, 0:06 left"},
        {8000ms, 4194304, "438.9 KiB/s, 0:14 left"},
    };
    TRateMeter meter;
    meter.Start(10 * 1048576, t0);
    for (const Step& step : steps) {
        meter.Progress(step.Done, t0 + step.At);
        EXPECT_EQ(meter.Text(), step.Text) << step.At.count();
    }
    // A new transfer starts afresh; hours show as such.
    meter.Start(int64_t{100} * 1048576, t0 + 10s);
    meter.Progress(10240, t0 + 11s);
    EXPECT_EQ(meter.Text(), "10.0 KiB/s, 2:50:39 left");
}
