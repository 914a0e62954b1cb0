#include "update/Dispatcher.h"

namespace orvex {

HeadlessDispatcher::HeadlessDispatcher(bool queueReports)
    : FQueueReports(queueReports),
      FCalls([this] { return Wake(); }, "The report thread has stopped"), FThread([this] { Loop(); }) {
    FCalls.Open(FThread.get_id());
}

HeadlessDispatcher::~HeadlessDispatcher() {
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FStopping = true;
    }
    FWakeUp.notify_all();
    FThread.join();
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
