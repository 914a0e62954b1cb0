#pragma once
// The program's one way of running work on other threads: a pool that starts its threads as jobs
// need them, up to a bound, and that the parallel loop, the ordered work-ahead queue, the block
// decoder, the WinINet transfers and the background downloads schedule their jobs on.
#include "util/JobResult.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <typeindex>
#include <utility>

namespace orvex {

// Jobs run in the order they were posted, each on a thread of the pool. A thread is started when a
// job is posted and no thread is idle, as long as fewer than maxThreads exist; a busy thread (a job
// blocked in a call its submitter gave up on) thus never holds the next jobs up while the bound
// leaves room. With idleEnd, a thread idle that long ends.
// Going away stops the pool: jobs not started are dropped, running ones see their stop token
// requested, and every thread has left the jobs before the destructor returns. A pool whose jobs
// may block past the process's end is therefore never destroyed; its threads do not hold the exit up.
class TWorkerPool {
public:
    static constexpr unsigned Unbounded = std::numeric_limits<unsigned>::max();
    using TJob = std::function<void(std::stop_token stop)>;

    explicit TWorkerPool(unsigned maxThreads, std::optional<std::chrono::milliseconds> idleEnd = std::nullopt);
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    // Runs job on a thread of the pool. An exception leaving it ends the program, as on a thread of
    // its own. Throws, leaving nothing queued, when no thread can be started for it.
    void Post(TJob job);

    // Runs job on a thread of the pool; the result holds what it returned, or the exception it
    // threw (EJobDropped when the pool went before it started).
    template <class F>
    auto Submit(F job) -> TJobResult<std::invoke_result_t<F&, std::stop_token>> {
        using TResult = std::invoke_result_t<F&, std::stop_token>;
        auto pending = std::make_shared<TPending<F, TResult>>(std::move(job));
        TJobResult<TResult> result = pending->Result;
        Post([pending](std::stop_token stop) { pending->Run(std::move(stop)); });
        return result;
    }

    // The current worker thread's own T, made on first use and destroyed when the thread ends: what
    // a kind of job keeps from one job to the next on the same thread. Only on a pool's thread.
    template <class T>
    static T& ThreadState() {
        std::shared_ptr<void>& slot = ThreadSlot(typeid(T));
        if (!slot) slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }

private:
    // A submitted job and its result; a job dropped unrun leaves EJobDropped as its result.
    template <class F, class TResult>
    struct TPending {
        explicit TPending(F job) : Job(std::move(job)) {}
        ~TPending() { Result.SetError(std::make_exception_ptr(EJobDropped())); }  // no-op once set
        void Run(std::stop_token stop) {
            try {
                if constexpr (std::is_void_v<TResult>) {
                    Job(std::move(stop));
                    Result.SetValue(true);
                } else {
                    Result.SetValue(Job(std::move(stop)));
                }
            } catch (...) {
                Result.SetError(std::current_exception());
            }
        }
        F Job;
        TJobResult<TResult> Result;
    };

    struct TShared;
    static void Serve(const std::shared_ptr<TShared>& shared);
    static std::shared_ptr<void>& ThreadSlot(std::type_index type);

    std::shared_ptr<TShared> FShared;
};

}  // namespace orvex
