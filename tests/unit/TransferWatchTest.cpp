// When a transfer is given up, on a clock the test moves.
#include "update/TransferWatch.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvex;

namespace {

enum class Event { Answer, Receive, Redirect, Check };

struct Step {
    int AtMs;
    Event What;
    uint64_t Total = 0;                                  // Receive: the body so far
    TransferVerdict Expected = TransferVerdict::Going;   // Check
};

struct Case {
    const char* Name;
    std::vector<Step> Steps;
};

TEST(TransferWatch, GivesUpOnSilenceStallsTricklesRedirectLoopsAndTooMuchOfThemInAllOnly) {
    using V = TransferVerdict;
    using E = Event;
    TTransferLimits limits;
    limits.Answer = std::chrono::milliseconds(1000);
    limits.Stall = std::chrono::milliseconds(2000);
    limits.MinBytesPerSecond = 100;
    limits.SpeedPeriod = std::chrono::milliseconds(3000);
    limits.MaxRedirects = 2;
    limits.Idle = std::chrono::milliseconds(3500);
    const std::vector<Case> cases{
        {"silent server", {{999, E::Check, 0, V::Going}, {1000, E::Check, 0, V::NoAnswer}}},
        {"each redirect may take the answer time again",
         {{900, E::Redirect}, {1800, E::Check, 0, V::Going}, {900 + 1000, E::Check, 0, V::NoAnswer}}},
        {"redirects up to the limit",
         {{10, E::Redirect}, {20, E::Redirect}, {30, E::Check, 0, V::Going}, {40, E::Redirect}, {50, E::Check, 0, V::TooManyRedirects}}},
        {"headers then nothing",
         {{100, E::Answer}, {2099, E::Check, 0, V::Going}, {2100, E::Check, 0, V::Stalled}}},
        {"a stall after part of the body",
         {{0, E::Answer}, {500, E::Receive, 5000}, {2499, E::Check, 0, V::Going}, {2500, E::Check, 0, V::Stalled}}},
        {"a trickle that never stalls",
         {{0, E::Answer}, {500, E::Receive, 1}, {1000, E::Receive, 2}, {1500, E::Receive, 3}, {2000, E::Receive, 4},
          {2500, E::Receive, 5}, {2999, E::Check, 0, V::Going}, {3000, E::Check, 0, V::TooSlow}}},
        {"each period is judged on its own",
         {{0, E::Answer}, {1000, E::Receive, 4000}, {2500, E::Receive, 4050}, {3000, E::Check, 0, V::Going},
          {4000, E::Receive, 4100}, {5500, E::Receive, 4200}, {6000, E::Check, 0, V::TooSlow}}},
        {"a steady slow modem passes",
         {{0, E::Answer}, {1000, E::Receive, 150}, {2000, E::Receive, 300}, {3000, E::Receive, 450},
          {3000, E::Check, 0, V::Going}, {4500, E::Receive, 675}, {6000, E::Receive, 900}, {6000, E::Check, 0, V::Going}}},
        {"the wait for the answer and a trickle after it add up",
         {{900, E::Answer}, {1400, E::Receive, 1}, {1900, E::Receive, 2}, {2400, E::Receive, 3}, {2900, E::Receive, 4},
          {3400, E::Receive, 5}, {3499, E::Check, 0, V::Going}, {3500, E::Check, 0, V::OutOfTime}}},
        {"a verdict stays", {{1000, E::Check, 0, V::NoAnswer}, {1001, E::Receive, 10}, {1002, E::Check, 0, V::NoAnswer}}},
    };
    for (const Case& c : cases) {
        const auto start = TTransferWatch::Clock::time_point{} + std::chrono::hours(1);
        TTransferWatch watch(limits, start);
        for (const Step& step : c.Steps) {
            const auto now = start + std::chrono::milliseconds(step.AtMs);
            switch (step.What) {
                case E::Answer: watch.Answered(now); break;
                case E::Receive: watch.Received(step.Total, now); break;
                case E::Redirect: watch.Redirected(now); break;
                case E::Check: EXPECT_EQ(watch.Check(now), step.Expected) << c.Name << " at " << step.AtMs << " ms"; break;
            }
        }
    }
}

}  // namespace
