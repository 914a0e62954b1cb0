#include "update/Dispatcher.h"

#include <memory>

namespace orvex {

HeadlessDispatcher::HeadlessDispatcher(bool queueReports)
    : FQueueReports(queueReports),
      FCalls([this] { return Wake(); }, "The report thread has stopped") {
    TJobResult<std::thread::id> started;
    FThread.Post([this, started](std::stop_token) mutable {
        started.SetValue(std::this_thread::get_id());
        Loop();
    });
    FThreadId = started.Get();
    FCalls.Open(FThreadId);
}

HeadlessDispatcher::~HeadlessDispatcher() {
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FStopping = true;
    }
    FWakeUp.notify_all();
    // FThread waits for the loop to end as it goes.
}

void HeadlessDispatcher::Post(std::function<void()> callback) {
    if (FQueueReports)
        FCalls.Post(std::move(callback));
    else
        FCalls.Invoke(callback);
}

bool HeadlessDispatcher::Wake() {
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FWoken = true;
    }
    FWakeUp.notify_one();
    return true;
}

void HeadlessDispatcher::Loop() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FWakeUp.wait(lock, [this] { return FWoken || FStopping; });
        if (!FWoken) return;  // stopping, and every waiting caller was served
        FWoken = false;
        lock.unlock();
        FCalls.RunQueued();
        lock.lock();
    }
}

}  // namespace orvex
