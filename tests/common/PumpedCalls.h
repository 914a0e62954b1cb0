#pragma once
// A call queue whose consumer is the test thread: calls come from other threads and run while the
// test waits for something, as a window's message loop would run them.
#include "update/CallQueue.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>

namespace orvex::test {

struct PumpedCalls {
    explicit PumpedCalls(std::size_t mostQueued = 256)
        : Calls([this] { return ++Wakes, WakeWorks.load(); }, "closed", mostQueued) {
        Calls.Open(std::this_thread::get_id());
    }
    // Runs the queued calls until done() holds, then once more for those made meanwhile; false
    // when done() still does not hold after limit.
    template <typename Done>
    bool RunUntil(Done done, std::chrono::seconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            Calls.RunQueued();
            std::this_thread::yield();
        }
        Calls.RunQueued();
        return true;
    }

    std::atomic<int> Wakes{0};  // how often the queue asked for RunQueued
    std::atomic<bool> WakeWorks{true};
    TCallQueue Calls;
};

}  // namespace orvex::test
