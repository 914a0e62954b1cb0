#pragma once
// Jobs done ahead on threads of their own, their results handed over strictly in order.
#include "util/WorkerPool.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <utility>

namespace orvex {

// Runs job(0) ... job(count - 1) on `threads` threads, never more than `window` results ahead of
// the last one taken, and gives the results in index order. With no threads, each job runs in
// Take(), on the caller's thread. A job's exception is raised by the Take() of its index.
// Going away stops it: no job starts any more, running jobs see their stop token requested, and
// every thread has ended before the destructor returns; results not taken are destroyed with it.
template <class T>
class TOrderedAhead {
public:
    using TJob = std::function<T(std::size_t index, std::stop_token stop)>;

    TOrderedAhead(std::size_t count, unsigned threads, std::size_t window, TJob job)
        : FCount(count), FWindow(window == 0 ? 1 : window), FJob(std::move(job)) {
        if (threads == 0 || count == 0) return;
        FPool.emplace(threads);
        while (FSubmitted < FCount && FSubmitted < FWindow) SubmitNext();
    }
    ~TOrderedAhead() = default;
    TOrderedAhead(const TOrderedAhead&) = delete;
    TOrderedAhead& operator=(const TOrderedAhead&) = delete;

    // The result of the next index, once its job has finished.
    T Take() {
        const std::size_t index = FTaken;
        if (index >= FCount) throw std::out_of_range("every result has been taken");
        ++FTaken;
        if (!FPool) return FJob(index, std::stop_token());
        if (FAhead.empty()) SubmitNext();  // a thread for it could not be started earlier
        TJobResult<T> result = std::move(FAhead.front());
        FAhead.pop_front();
        result.Wait();
        if (FSubmitted < FCount) SubmitNext();  // the window moved on
        return result.Get();
    }

private:
    void SubmitNext() {
        const std::size_t index = FSubmitted;
        FAhead.push_back(FPool->Submit([this, index](std::stop_token stop) { return FJob(index, std::move(stop)); }));
        ++FSubmitted;
    }

    const std::size_t FCount;
    const std::size_t FWindow;
    const TJob FJob;
    std::size_t FSubmitted = 0;  // jobs handed to the pool
    std::size_t FTaken = 0;      // results handed over
    std::deque<TJobResult<T>> FAhead;  // of the jobs submitted and not taken, in index order
    // Last, so it goes first: it stops the jobs and waits for its threads before what they use goes.
    std::optional<TWorkerPool> FPool;
};

}  // namespace orvex
