#include "util/WorkerPool.h"

#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace orvex {

namespace {

using TThreadSlots = std::map<std::type_index, std::shared_ptr<void>>;

// The states of the worker thread running this code; none on other threads.
thread_local TThreadSlots* CurrentSlots = nullptr;

}  // namespace

// Shared by the pool and its threads, which are detached: a thread that leaves after the pool has
// stopped waiting for it still finds what it touches.
struct TWorkerPool::TShared {
    TShared(unsigned maxThreads, std::optional<std::chrono::milliseconds> idleEnd) : MaxThreads(maxThreads), IdleEnd(idleEnd) {}

    const unsigned MaxThreads;
    const std::optional<std::chrono::milliseconds> IdleEnd;
    std::stop_source Stop;
    std::mutex Lock;
    std::condition_variable Wake;  // for idle threads: a job came, or the pool stops
    std::condition_variable Left;  // for the pool's end: a thread left
    std::deque<TJob> Jobs;
    unsigned Threads = 0;
    unsigned Idle = 0;
    bool Stopping = false;
};

TWorkerPool::TWorkerPool(unsigned maxThreads, std::optional<std::chrono::milliseconds> idleEnd)
    : FShared(std::make_shared<TShared>(maxThreads, idleEnd)) {}

TWorkerPool::~TWorkerPool() {
    std::deque<TJob> dropped;  // destroyed last, outside the lock
    std::unique_lock<std::mutex> lock(FShared->Lock);
    FShared->Stopping = true;
    dropped.swap(FShared->Jobs);
    lock.unlock();
    FShared->Stop.request_stop();
    FShared->Wake.notify_all();
    lock.lock();
    FShared->Left.wait(lock, [this] { return FShared->Threads == 0; });
}

void TWorkerPool::Post(TJob job) {
    std::unique_lock<std::mutex> lock(FShared->Lock);
    FShared->Jobs.push_back(std::move(job));
    if (FShared->Jobs.size() <= FShared->Idle || FShared->Threads >= FShared->MaxThreads) {
        lock.unlock();
        FShared->Wake.notify_one();
        return;
    }
    try {
        // Started under the lock, so no thread can take the job before it is known to have one.
        std::thread([shared = FShared] { Serve(shared); }).detach();
    } catch (...) {
        FShared->Jobs.pop_back();
        throw;
    }
    ++FShared->Threads;
}

void TWorkerPool::Serve(const std::shared_ptr<TShared>& shared) {
    {
        TThreadSlots slots;  // the thread's states go before it counts as gone
        CurrentSlots = &slots;
        std::unique_lock<std::mutex> lock(shared->Lock);
        for (;;) {
            const auto ready = [&] { return shared->Stopping || !shared->Jobs.empty(); };
            ++shared->Idle;
            const bool woken = shared->IdleEnd ? shared->Wake.wait_for(lock, *shared->IdleEnd, ready) : (shared->Wake.wait(lock, ready), true);
            --shared->Idle;
            if (!woken || shared->Stopping) break;
            TJob job = std::move(shared->Jobs.front());
            shared->Jobs.pop_front();
            lock.unlock();
            job(shared->Stop.get_token());
            job = nullptr;  // what the job holds goes before the thread waits again
            lock.lock();
        }
        lock.unlock();
        CurrentSlots = nullptr;
    }
    const std::lock_guard<std::mutex> lock(shared->Lock);
    --shared->Threads;
    shared->Left.notify_all();
}

std::shared_ptr<void>& TWorkerPool::ThreadSlot(std::type_index type) {
    if (!CurrentSlots) throw std::logic_error("a worker thread's state asked for on another thread");
    return (*CurrentSlots)[type];
}

}  // namespace orvex
