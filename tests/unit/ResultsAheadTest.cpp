#include "util/ResultsAhead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace orvex;

namespace {

void Nap(int microseconds) { std::this_thread::sleep_for(std::chrono::microseconds(microseconds)); }

// Keeps the window full, as its users do, taking each result in turn.
template <typename OnTaken>
void RunAhead(TResultsAhead<int>& ahead, int jobs, const std::function<int(int)>& job, OnTaken onTaken) {
    int submitted = 0;
    for (int taken = 0; taken < jobs; ++taken) {
        for (; submitted < jobs && ahead.HasRoom(); ++submitted) ahead.Submit([&job, submitted] { return job(submitted); });
        onTaken(taken, ahead);
    }
}

TEST(ResultsAhead, ResultsComeInSubmissionOrderWhateverTheJobsTake) {
    std::mt19937 random(7);
    std::vector<int> naps(300);
    for (int& nap : naps) nap = static_cast<int>(random() % 2000);
    for (const unsigned threads : {1u, 2u, 5u}) {
        std::atomic<int> running{0};
        std::atomic<int> mostAtOnce{0};
        TResultsAhead<int> ahead(threads, 3);
        std::vector<int> results;
        RunAhead(
            ahead, static_cast<int>(naps.size()),
            [&](int i) {
                mostAtOnce = std::max(mostAtOnce.load(), ++running);
                Nap(naps[i]);
                --running;
                return i * 10;
            },
            [&](int, TResultsAhead<int>& a) { results.push_back(a.Take()); });
        std::vector<int> expected;
        for (int i = 0; i < static_cast<int>(naps.size()); ++i) expected.push_back(i * 10);
        EXPECT_EQ(results, expected) << threads << " threads";
        EXPECT_FALSE(ahead.Pending());
        EXPECT_LE(mostAtOnce, static_cast<int>(std::min(threads, 3u))) << threads << " threads";
    }
}

TEST(ResultsAhead, AJobsExceptionIsRaisedWhereItsResultIsTakenAndTheOthersStillCome) {
    TResultsAhead<int> ahead(4, 8);
    std::vector<int> results;
    RunAhead(
        ahead, 20,
        [](int i) {
            Nap((20 - i) * 100);  // later jobs end first
            if (i == 6) throw std::runtime_error("job 6");
            return i;
        },
        [&](int taken, TResultsAhead<int>& a) {
            try {
                results.push_back(a.Take());
            } catch (const std::runtime_error& error) {
                EXPECT_EQ(taken, 6);
                EXPECT_STREQ(error.what(), "job 6");
                results.push_back(-1);
            }
        });
    std::vector<int> expected;
    for (int i = 0; i < 20; ++i) expected.push_back(i == 6 ? -1 : i);
    EXPECT_EQ(results, expected);
}

TEST(ResultsAhead, LeavingEarlyDropsTheJobsNotStartedAndJoinsTheWorkers) {
    std::atomic<int> started{0};
    std::atomic<int> ended{0};
    {
        TResultsAhead<int> ahead(2, 6);
        for (int i = 0; i < 6; ++i)
            ahead.Submit([&, i] {
                ++started;
                Nap(i == 0 ? 0 : 300000);
                return ++ended;
            });
        EXPECT_FALSE(ahead.HasRoom());
        EXPECT_THROW(ahead.Submit([] { return 0; }), std::logic_error);
        EXPECT_EQ(ahead.Take(), 1);
    }
    // Every job that started has ended before the pipeline went; not all six had the time to start.
    EXPECT_EQ(started.load(), ended.load());
    EXPECT_LT(started.load(), 6);
}

}  // namespace
