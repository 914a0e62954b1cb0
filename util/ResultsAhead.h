#pragma once
// Work done ahead on worker threads, its results taken back in the order it was handed in.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace orvex {

// Jobs submitted one after another run on up to `threads` workers while the caller takes their
// results in submission order, so it can report each one in turn while later ones are under way.
// At most `window` jobs are submitted and not yet taken, which bounds the work done ahead.
// Going out of scope (also while an exception passes) drops the jobs not yet started, lets the
// running ones end and joins every worker.
template <typename T>
class TResultsAhead {
public:
    TResultsAhead(unsigned threads, std::size_t window) : FWindow(window) {
        if (threads == 0 || window == 0) throw std::invalid_argument("TResultsAhead needs a thread and a window");
        try {
            for (unsigned t = 0; t < threads; ++t) FWorkers.emplace_back([this] { Work(); });
        } catch (...) {
            StopAndJoin();
            throw;
        }
    }
    ~TResultsAhead() { StopAndJoin(); }
    TResultsAhead(const TResultsAhead&) = delete;
    TResultsAhead& operator=(const TResultsAhead&) = delete;

    // True while another job may be submitted.
    bool HasRoom() const {
        const std::lock_guard<std::mutex> lock(FLock);
        return FInOrder.size() < FWindow;
    }
    // Raises std::logic_error when the window is full.
    void Submit(std::function<T()> job) {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            if (FInOrder.size() >= FWindow) throw std::logic_error("TResultsAhead: the window is full");
            FInOrder.push_back(std::make_unique<TSlot>());
            FInOrder.back()->Job = std::move(job);
            FWaiting.push_back(FInOrder.back().get());
        }
        FWorkToDo.notify_one();
    }
    // True while a submitted job's result has not been taken.
    bool Pending() const {
        const std::lock_guard<std::mutex> lock(FLock);
        return !FInOrder.empty();
    }
    // The result of the oldest job not yet taken, once it has ended; what the job raised is raised
    // here. Raises std::logic_error when nothing is pending.
    T Take() {
        std::unique_lock<std::mutex> lock(FLock);
        if (FInOrder.empty()) throw std::logic_error("TResultsAhead: nothing submitted to take");
        FJobEnded.wait(lock, [this] { return FInOrder.front()->Ended; });
        const std::unique_ptr<TSlot> oldest = std::move(FInOrder.front());
        FInOrder.pop_front();
        lock.unlock();
        if (oldest->Error) std::rethrow_exception(oldest->Error);
        return std::move(*oldest->Result);
    }

private:
    struct TSlot {
        std::function<T()> Job;
        std::optional<T> Result;
        std::exception_ptr Error;
        bool Ended = false;
    };

    void Work() {
        std::unique_lock<std::mutex> lock(FLock);
        for (;;) {
            FWorkToDo.wait(lock, [this] { return FStopping || !FWaiting.empty(); });
            if (FStopping) return;
            TSlot* const slot = FWaiting.front();
            FWaiting.pop_front();
            lock.unlock();
            std::optional<T> result;
            std::exception_ptr error;
            try {
                result.emplace(slot->Job());
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            slot->Result = std::move(result);
            slot->Error = error;
            slot->Ended = true;
            FJobEnded.notify_all();
        }
    }

    void StopAndJoin() {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            FStopping = true;
            FWaiting.clear();
        }
        FWorkToDo.notify_all();
        for (std::thread& worker : FWorkers) worker.join();
        FWorkers.clear();
    }

    const std::size_t FWindow;
    mutable std::mutex FLock;
    std::condition_variable FWorkToDo;
    std::condition_variable FJobEnded;
    // Every job submitted and not taken, oldest first; FWaiting: those no worker has started.
    std::deque<std::unique_ptr<TSlot>> FInOrder;
    std::deque<TSlot*> FWaiting;
    bool FStopping = false;
    std::vector<std::thread> FWorkers;
};

}  // namespace orvex
