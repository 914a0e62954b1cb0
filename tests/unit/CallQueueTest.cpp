#include "base/Exceptions.h"
#include "common/PumpedCalls.h"
#include "update/CallQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace orvex;
using orvex::test::PumpedCalls;


TEST(CallQueue, RunsPostsAndInvokesInTheirOrderOnTheConsumerAndInvokeWaitsForItsCall) {
    PumpedCalls queue;
    const std::thread::id consumer = std::this_thread::get_id();
    std::vector<int> ran;  // touched by calls only, which run one at a time
    bool allOnConsumer = true;
    bool invokeWaited = true;
    std::atomic<bool> done{false};
    std::thread caller([&] {
        for (int i = 0; i < 1000; ++i) {
            const auto report = [&, i] {
                ran.push_back(i);
                allOnConsumer = allOnConsumer && std::this_thread::get_id() == consumer;
            };
            if (i % 100 != 99) {
                queue.Calls.Post(report);
                continue;
            }
            queue.Calls.Invoke(report);
            invokeWaited = invokeWaited && ran.size() == static_cast<std::size_t>(i + 1);
        }
        done = true;
    });
    ASSERT_TRUE(queue.RunUntil([&] { return done.load(); }));
    caller.join();
    EXPECT_TRUE(allOnConsumer);
    EXPECT_TRUE(invokeWaited);
    ASSERT_EQ(ran.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(ran[static_cast<std::size_t>(i)], i);
    // A call made on the consumer runs at once.
    int inlineCalls = 0;
    queue.Calls.Invoke([&] { ++inlineCalls; });
    queue.Calls.Post([&] { ++inlineCalls; });
    EXPECT_EQ(inlineCalls, 2);
}

TEST(CallQueue, WakesOncePerBurstAndAgainForCallsThatArriveWhileItRuns) {
    PumpedCalls queue;
    std::vector<int> ran;
    std::thread([&] {
        queue.Calls.Post([&] {
            std::thread([&] { queue.Calls.Post([&] { ran.push_back(2); }); }).join();
            ran.push_back(1);
        });
        for (int i = 0; i < 9; ++i) queue.Calls.Post([] {});
    }).join();
    EXPECT_EQ(queue.Wakes, 1);
    queue.Calls.RunQueued();
    EXPECT_EQ(ran, std::vector<int>{1});
    EXPECT_EQ(queue.Wakes, 2);
    queue.Calls.RunQueued();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_TRUE(queue.Calls.Empty());
}

TEST(CallQueue, APosterWaitsWhileTheQueueIsFull) {
    PumpedCalls queue(4);
    std::atomic<int> posted{0};
    std::thread poster([&] {
        for (int i = 0; i < 6; ++i) {
            queue.Calls.Post([] {});
            ++posted;
        }
    });
    // Once it filled the queue, the poster waits: it never gets past 4 while nothing runs. (Waited
    // for, not slept for: under load Wine has ended a sleep of 100 ms after 4.)
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (posted < 4 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(posted, 4);
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (posted < 6) std::this_thread::yield();
        done = true;
    });
    ASSERT_TRUE(queue.RunUntil([&] { return done.load(); }));
    poster.join();
    watcher.join();
    EXPECT_TRUE(queue.Calls.Empty());
}

TEST(CallQueue, FailuresComeOutOfTheirOwnInvokeOrOnceOutOfTheNextCall) {
    PumpedCalls queue;
    const auto outcome = [](const std::function<void()>& call) -> std::string {
        try {
            call();
            return "nothing";
        } catch (const std::exception& e) {
            return e.what();
        }
    };
    std::atomic<bool> done{false};
    std::string invoked;
    std::thread invoker([&] {
        invoked = outcome([&] { queue.Calls.Invoke([] { throw std::runtime_error("invoked"); }); });
        done = true;
    });
    ASSERT_TRUE(queue.RunUntil([&] { return done.load(); }));
    invoker.join();
    EXPECT_EQ(invoked, "invoked");

    int ran = 0;
    std::thread([&] {
        queue.Calls.Post([] { throw EInvalidOperation("posted"); });
        queue.Calls.Post([&] { ++ran; });
    }).join();
    queue.Calls.RunQueued();
    std::vector<std::string> next;
    std::thread([&] {
        for (int i = 0; i < 2; ++i) next.push_back(outcome([&] { queue.Calls.Post([&] { ran += 10; }); }));
    }).join();
    queue.Calls.RunQueued();
    EXPECT_EQ(next, (std::vector<std::string>{"posted", "nothing"}));
    EXPECT_EQ(ran, 11);  // the call that threw was not queued
}

TEST(CallQueue, ClosingDropsQueuedCallsAndFailsTheirCallersAndLaterCalls) {
    for (const bool byWake : {false, true}) {
        PumpedCalls queue;
        queue.WakeWorks = !byWake;
        bool ran = false;
        std::string waiting, later;
        std::thread caller([&] {
            try {
                queue.Calls.Post([&] { ran = true; });
                queue.Calls.Invoke([&] { ran = true; });
            } catch (const Exception& e) {
                waiting = e.what();
            }
            try {
                queue.Calls.Post([&] { ran = true; });
            } catch (const Exception& e) {
                later = e.what();
            }
        });
        if (!byWake) {
            while (queue.Calls.Empty()) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            queue.Calls.Close();
        }
        caller.join();
        queue.Calls.RunQueued();
        EXPECT_FALSE(ran) << byWake;
        EXPECT_EQ(waiting, "closed") << byWake;
        EXPECT_EQ(later, "closed") << byWake;
    }
}
