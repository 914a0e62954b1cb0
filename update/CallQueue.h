#pragma once
// Calls handed from run threads to the one thread that runs them (a window's, or a thread of its
// own), run one at a time in the order they were handed over.
//
// Invoke waits for its call. Post returns once the call is queued, so a run that reports every
// read does not wait for the other thread each time; it waits only while MostQueued calls are
// already queued. An exception a posted call throws is thrown again at the next Post or Invoke.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace orvex {

class TCallQueue {
public:
    // wake is called, outside the queue's lock, whenever a call arrives at an empty queue: it has
    // the consumer call RunQueued, and returns false when it cannot (the queue then closes).
    // Calls made once the queue is closed throw Exception(closedMessage).
    TCallQueue(std::function<bool()> wake, std::string closedMessage, std::size_t mostQueued = 256);
    TCallQueue(const TCallQueue&) = delete;
    TCallQueue& operator=(const TCallQueue&) = delete;

    // The thread that runs the calls: calls made on it run at once, as waiting for itself would
    // never end. Opens a closed queue again.
    void Open(std::thread::id consumer);

    void Invoke(const std::function<void()>& call);
    void Post(std::function<void()> call);

    // On the consumer's thread: runs the calls queued when it started, and wakes the consumer
    // again if more arrived meanwhile.
    void RunQueued();

    // The consumer is gone: queued calls are dropped, and their callers and later calls throw.
    void Close();

    bool Empty() const;

private:
    struct TWaiter {
        std::exception_ptr Error;
        bool Done = false;
        bool Dropped = false;
    };
    struct TItem {
        std::function<void()> Owned;
        const std::function<void()>* Borrowed = nullptr;
        TWaiter* Waiter = nullptr;
    };

    // Queues item under lock; returns whether the consumer needs waking.
    bool Push(std::unique_lock<std::mutex>& lock, TItem item);
    void Wake();
    void ThrowFailure(std::unique_lock<std::mutex>& lock);

    const std::function<bool()> FWake;
    const std::string FClosedMessage;
    const std::size_t FMostQueued;

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TItem> FQueue;
    std::exception_ptr FFailure;  // of a posted call, for its poster's next call
    std::thread::id FConsumer;
    bool FClosed = false;
};

}  // namespace orvex
