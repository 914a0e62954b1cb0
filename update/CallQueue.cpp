#include "update/CallQueue.h"

#include "base/Exceptions.h"

#include <utility>

namespace orvex {

TCallQueue::TCallQueue(std::function<bool()> wake, std::string closedMessage, std::size_t mostQueued)
    : FWake(std::move(wake)), FClosedMessage(std::move(closedMessage)), FMostQueued(mostQueued) {}

void TCallQueue::Open(std::thread::id consumer) {
    const std::lock_guard<std::mutex> guard(FLock);
    FConsumer = consumer;
    FClosed = false;
}

bool TCallQueue::Empty() const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FQueue.empty();
}

void TCallQueue::ThrowFailure(std::unique_lock<std::mutex>& lock) {
    if (FClosed) throw Exception(FClosedMessage);
    if (!FFailure) return;
    std::exception_ptr failure = std::exchange(FFailure, nullptr);
    lock.unlock();
    std::rethrow_exception(failure);
}

bool TCallQueue::Push(std::unique_lock<std::mutex>& lock, TItem item) {
    ThrowFailure(lock);
    const bool wasEmpty = FQueue.empty();
    FQueue.push_back(std::move(item));
    return wasEmpty;
}

void TCallQueue::Wake() {
    if (FWake()) return;
    Close();
}

void TCallQueue::Invoke(const std::function<void()>& call) {
    std::unique_lock<std::mutex> lock(FLock);
    if (FConsumer == std::this_thread::get_id()) {
        lock.unlock();
        call();
        return;
    }
    TWaiter waiter;
    if (Push(lock, TItem{{}, &call, &waiter})) {
        lock.unlock();
        Wake();
        lock.lock();
    }
    FChanged.wait(lock, [&] { return waiter.Done; });
    if (waiter.Dropped) throw Exception(FClosedMessage);
    if (waiter.Error) {
        lock.unlock();
        std::rethrow_exception(waiter.Error);
    }
}

void TCallQueue::Post(std::function<void()> call) {
    std::unique_lock<std::mutex> lock(FLock);
    if (FConsumer == std::this_thread::get_id()) {
        lock.unlock();
        call();
        return;
    }
    FChanged.wait(lock, [this] { return FClosed || FQueue.size() < FMostQueued; });
    if (!Push(lock, TItem{std::move(call), nullptr, nullptr})) return;
    lock.unlock();
    Wake();
}

void TCallQueue::RunQueued() {
    std::unique_lock<std::mutex> lock(FLock);
    for (std::size_t left = FQueue.size(); left > 0 && !FQueue.empty(); --left) {
        TItem item = std::move(FQueue.front());
        FQueue.pop_front();
        FChanged.notify_all();  // room for a poster held back
        lock.unlock();
        std::exception_ptr error;
        try {
            item.Borrowed ? (*item.Borrowed)() : item.Owned();
        } catch (...) {
            error = std::current_exception();
        }
        TWaiter* const waiter = item.Waiter;
        item = TItem{};  // a posted call's captures go on this thread, outside the lock
        lock.lock();
        if (waiter) {
            // The waiter may return as soon as it sees Done: nothing touches it after this.
            waiter->Error = error;
            waiter->Done = true;
            FChanged.notify_all();
        } else if (error && !FFailure) {
            FFailure = error;
        }
    }
    const bool more = !FQueue.empty() && !FClosed;
    lock.unlock();
    if (more) Wake();
}

void TCallQueue::Close() {
    const std::lock_guard<std::mutex> guard(FLock);
    FClosed = true;
    for (TItem& item : FQueue)
        if (item.Waiter) item.Waiter->Dropped = item.Waiter->Done = true;
    FQueue.clear();
    FChanged.notify_all();
}

}  // namespace orvex
