#include "update/Dispatcher.h"

#include <exception>

namespace orvex {

struct HeadlessDispatcher::Call {
    const std::function<void()>* Callback;
    std::exception_ptr Error;
    bool Done = false;
    std::condition_variable Finished;
};

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
    std::unique_lock<std::mutex> lock(FLock);
    FQueue.push_back(&call);
    FWake.notify_all();
    call.Finished.wait(lock, [&] { return call.Done; });
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
        call->Done = true;
        call->Finished.notify_all();
    }
}

}  // namespace orvex
