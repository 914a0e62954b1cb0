#pragma once
// Jobs done ahead on threads of their own, their results handed over strictly in order.
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

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
        try {
            for (unsigned t = 0; t < threads && t < count; ++t) FThreads.emplace_back([this] { Work(); });
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~TOrderedAhead() { Stop(); }
    TOrderedAhead(const TOrderedAhead&) = delete;
    TOrderedAhead& operator=(const TOrderedAhead&) = delete;

    // The result of the next index, once its job has finished.
    T Take() {
        const std::size_t index = FTaken;
        if (index >= FCount) throw std::out_of_range("every result has been taken");
        if (FThreads.empty()) {
            ++FTaken;
            return FJob(index, FStop.get_token());
        }
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [&] { return FDone.count(index) != 0; });
        TResult result = std::move(FDone.at(index));
        FDone.erase(index);
        ++FTaken;
        lock.unlock();
        FChanged.notify_all();  // the window moved on
        if (result.Error) std::rethrow_exception(result.Error);
        return std::move(*result.Value);
    }

private:
    struct TResult {
        std::optional<T> Value;
        std::exception_ptr Error;
    };

    void Work() {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> lock(FLock);
                FChanged.wait(lock, [&] { return FStopping || (FNext < FCount && FNext < FTaken + FWindow); });
                if (FStopping) return;
                index = FNext++;
            }
            TResult result;
            try {
                result.Value.emplace(FJob(index, FStop.get_token()));
            } catch (...) {
                result.Error = std::current_exception();
            }
            {
                const std::lock_guard<std::mutex> lock(FLock);
                FDone.emplace(index, std::move(result));
            }
            FChanged.notify_all();
        }
    }

    void Stop() {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            FStopping = true;
        }
        FStop.request_stop();
        FChanged.notify_all();
        for (std::jthread& thread : FThreads) thread.join();
        FThreads.clear();
    }

    const std::size_t FCount;
    const std::size_t FWindow;
    const TJob FJob;
    std::stop_source FStop;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::size_t FNext = 0;   // the next job to start
    std::size_t FTaken = 0;  // results handed over
    bool FStopping = false;
    std::map<std::size_t, TResult> FDone;
    std::vector<std::jthread> FThreads;
};

}  // namespace orvex
