#include "util/WorkerPool.h"

#include <gtest/gtest.h>

#include <optional>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace orvex;
using namespace std::chrono_literals;

namespace {

// Counts the states made and alive and, as they go, the jobs they saw.
struct TCountedState {
    static inline std::atomic<int> Made{0}, Alive{0}, Jobs{0};
    int JobsHere = 0;
    TCountedState() { ++Made, ++Alive; }
    ~TCountedState() { --Alive, Jobs += JobsHere; }
};

template <class Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
    return condition();
}

}  // namespace

TEST(WorkerPool, RunsJobsInOrderWithinItsThreadsAndGivesEachResultOrFailure) {
    for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        std::atomic<unsigned> running{0}, mostRunning{0};
        std::vector<std::size_t> started;
        std::mutex startedLock;
        std::vector<TJobResult<std::size_t>> results;
        {
            TWorkerPool pool(threads);
            for (std::size_t i = 0; i < 40; ++i)
                results.push_back(pool.Submit([&, i](std::stop_token) {
                    {
                        const std::lock_guard<std::mutex> lock(startedLock);
                        started.push_back(i);
                    }
                    const unsigned now = ++running;
                    for (unsigned most = mostRunning; now > most && !mostRunning.compare_exchange_weak(most, now);) {
                    }
                    std::this_thread::sleep_for(200us);
                    --running;
                    if (i % 7 == 3) throw std::runtime_error("job " + std::to_string(i));
                    return i * i;
                }));
            for (std::size_t i = 0; i < results.size(); ++i) {
                if (i % 7 == 3) {
                    EXPECT_THROW(results[i].Get(), std::runtime_error);
                } else {
                    EXPECT_EQ(results[i].Get(), i * i);
                }
            }
        }
        EXPECT_LE(mostRunning, threads);
        // Jobs start in the order they came, as one thread shows.
        if (threads == 1) {
            for (std::size_t i = 0; i < started.size(); ++i) EXPECT_EQ(started[i], i);
        }
    }
}

TEST(WorkerPool, KeepsAStateForEachThreadUntilTheThreadEnds) {
    EXPECT_THROW(TWorkerPool::ThreadState<TCountedState>(), std::logic_error);  // not a worker thread
    const auto countJob = [](std::stop_token) { ++TWorkerPool::ThreadState<TCountedState>().JobsHere; };
    {
        TWorkerPool pool(2);
        std::vector<TJobResult<void>> done;
        for (int i = 0; i < 50; ++i) done.push_back(pool.Submit(countJob));
        for (auto& job : done) job.Get();
    }
    EXPECT_LE(TCountedState::Made, 2);
    EXPECT_EQ(TCountedState::Alive, 0);
    EXPECT_EQ(TCountedState::Jobs, 50);

    // A thread idle past idleEnd ends, and its state with it, while the pool goes on.
    TWorkerPool pool(1, 20ms);
    pool.Submit(countJob).Get();
    EXPECT_TRUE(Eventually([] { return TCountedState::Alive == 0; }));
    EXPECT_EQ(TCountedState::Jobs, 51);
    pool.Submit(countJob).Get();
}

TEST(WorkerPool, GoingAwayStopsTheRunningJobsAndDropsTheWaitingOnes) {
    std::atomic<int> started{0}, stopped{0};
    std::optional<TJobResult<int>> waiting;
    {
        TWorkerPool pool(2);
        for (int i = 0; i < 2; ++i)
            pool.Post([&](std::stop_token stop) {
                ++started;
                while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
                ++stopped;
            });
        waiting = pool.Submit([&](std::stop_token) { return ++started; });
        ASSERT_TRUE(Eventually([&] { return started == 2; }));
    }
    EXPECT_EQ(stopped, 2);
    EXPECT_EQ(started, 2);
    EXPECT_THROW(waiting->Get(), EJobDropped);
}

TEST(WorkerPool, AJobItsSubmitterGaveUpOnDoesNotHoldTheNextOnesUp) {
    TWorkerPool pool(TWorkerPool::Unbounded, 1min);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    TJobResult<void> blocked = pool.Submit([released](std::stop_token) { released.wait(); });
    EXPECT_FALSE(blocked.WaitFor(20ms));  // the submitter's deadline passes
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(pool.Submit([i](std::stop_token) { return i; }).WaitFor(10s));
    release.set_value();  // the blocked call returns at last; the pool waits for it when it goes
}
