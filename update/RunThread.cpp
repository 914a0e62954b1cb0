// The run's own thread: one run at a time in a process, on a detached thread that frees the run.
#include "update/GetFilesThr.h"

#include <atomic>
#include <thread>

namespace orvex {

namespace {

// Runs started and not yet ended; at most one at a time.
std::atomic<int> gRunsAlive{0};

}  // namespace

bool GFilesThread::Resume(std::unique_ptr<GFilesThread> thread) {
    int none = 0;
    if (!gRunsAlive.compare_exchange_strong(none, 1)) return false;
    try {
        std::thread([run = std::move(thread)]() mutable {
            run->RunUpdate();
            run.reset();
            gRunsAlive.store(0);
        }).detach();
    } catch (...) {
        gRunsAlive.store(0);
        throw;
    }
    return true;
}

bool GFilesThread::RunExists() { return gRunsAlive.load() != 0; }

}  // namespace orvex
