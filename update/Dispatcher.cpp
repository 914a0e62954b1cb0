#include "update/Dispatcher.h"

#include <atomic>
#include <exception>

namespace orvex {

struct HeadlessDispatcher::Call {
    const std::function<void()>* Callback;
    std::exception_ptr Error;
    std::atomic<bool> Done{false};
};

namespace {

// Reports are short: a caller that spins this long usually sees its call done without a sleep and
// a wake-up, which would cost more than most reports.
constexpr int SpinRounds = 200;

}  // namespace

HeadlessDispatcher::HeadlessDispatcher() : FThread([this] { Loop(); }) {}

HeadlessDispatcher::~HeadlessDispatcher() {
    {
        std::lock_guard<std::mutex> guard(FLock);
        FStopping = true;
    }
    FWake.notify_all();
    FThread.join();
}

void HeadlessDispatcher::Invoke(const std::function<void()>& callback) {
    // A callback that reports again must not wait for itself.
    if (std::this_thread::get_id() == FThread.get_id()) {
        callback();
        return;
    }
    Call call;
    call.Callback = &callback;
    {
        std::lock_guard<std::mutex> guard(FLock);
        FQueue.push_back(&call);
    }
    FWake.notify_one();
    const auto done = [&] { return call.Done.load(std::memory_order_acquire); };
    for (int round = 0; round < SpinRounds && !done(); ++round) std::this_thread::yield();
    if (!done()) {
        std::unique_lock<std::mutex> lock(FLock);
        FFinished.wait(lock, done);
    }
    if (call.Error) std::rethrow_exception(call.Error);
}

void HeadlessDispatcher::Loop() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FWake.wait(lock, [this] { return FStopping || !FQueue.empty(); });
        if (FQueue.empty()) return;  // stopping, and every waiting caller was served
        Call* call = FQueue.front();
        FQueue.pop_front();
        lock.unlock();
        try {
            (*call->Callback)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        lock.lock();
        // Set under the lock, so a caller about to wait cannot miss it; the call is not touched
        // after this, as its caller may return at once.
        call->Done.store(true, std::memory_order_release);
        FFinished.notify_all();
        // The run's next report usually follows at once; catch it before going to sleep.
        for (int round = 0; round < SpinRounds && FQueue.empty() && !FStopping; ++round) {
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
    }
}

}  // namespace orvex
