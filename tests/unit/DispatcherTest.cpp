#include "base/Exceptions.h"
#include "update/Dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace orvex;

TEST(HeadlessDispatcher, RunsTheCallbackOnItsOwnThreadWhileTheCallerWaits) {
    HeadlessDispatcher dispatcher;
    std::thread::id ranOn;
    bool finished = false;
    dispatcher.Invoke([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ranOn = std::this_thread::get_id();
        finished = true;
    });
    EXPECT_TRUE(finished);
    EXPECT_EQ(ranOn, dispatcher.ThreadId());
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(HeadlessDispatcher, RaisesTheCallbacksErrorInTheCallerWithItsTypeAndMessage) {
    HeadlessDispatcher dispatcher;
    try {
        dispatcher.Invoke([] { throw EInvalidOperation(Format(SOutOfRange, 0, 2147483647)); });
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Value must be between 0 and 2147483647");
    }
    // The dispatcher goes on serving after an error.
    int value = 0;
    dispatcher.Invoke([&] { value = 7; });
    EXPECT_EQ(value, 7);
}

TEST(HeadlessDispatcher, KeepsEachCallersOrderAndRunsOneCallbackAtATime) {
    constexpr int Calls = 2000;
    HeadlessDispatcher dispatcher;
    std::vector<int> seen[2];
    std::atomic<int> running{0};
    bool overlapped = false;
    auto caller = [&](int who) {
        for (int i = 0; i < Calls; ++i)
            dispatcher.Invoke([&, who, i] {
                if (running.fetch_add(1) != 0) overlapped = true;
                seen[who].push_back(i);  // only the dispatcher's thread touches these
                running.fetch_sub(1);
            });
    };
    std::thread first(caller, 0), second(caller, 1);
    first.join();
    second.join();
    EXPECT_FALSE(overlapped);
    for (const auto& calls : seen) {
        ASSERT_EQ(calls.size(), static_cast<std::size_t>(Calls));
        for (int i = 0; i < Calls; ++i) ASSERT_EQ(calls[static_cast<std::size_t>(i)], i);
    }
}

TEST(HeadlessDispatcher, ACallbackMayReportAgainWithoutWaitingForItself) {
    HeadlessDispatcher dispatcher;
    int depth = 0;
    dispatcher.Invoke([&] { dispatcher.Invoke([&] { depth = 2; }); });
    EXPECT_EQ(depth, 2);
}

TEST(HeadlessDispatcher, DestructionServesWaitingCallersThenJoins) {
    auto dispatcher = std::make_unique<HeadlessDispatcher>();
    std::atomic<bool> started{false};
    std::atomic<int> done{0};
    std::thread caller([&] {
        dispatcher->Invoke([&] {
            started = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ++done;
        });
    });
    while (!started) std::this_thread::yield();
    caller.join();
    dispatcher.reset();
    EXPECT_EQ(done, 1);
    HeadlessDispatcher idle;  // never used: still ends cleanly
}
