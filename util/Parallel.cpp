#include "util/Parallel.h"

#include "util/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>

namespace orvex {

void ParallelFor(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& job) {
    if (threads == 0) threads = CoreCount();
    const std::size_t workers = std::min<std::size_t>(threads, count);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr firstError;
    std::mutex errorLock;
    const auto work = [&] {
        for (std::size_t i; !failed && (i = next++) < count;) {
            try {
                job(i);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(errorLock);
                if (!firstError) firstError = std::current_exception();
                failed = true;
            }
        }
    };
    if (workers <= 1) {
        work();
    } else {
        // The caller is one of the workers. The pool waits for its threads when it goes, also when
        // starting a later one fails.
        TWorkerPool pool(static_cast<unsigned>(workers - 1));
        for (std::size_t t = 1; t < workers; ++t) pool.Post([&work](std::stop_token) { work(); });
        work();
    }
    if (firstError) std::rethrow_exception(firstError);
}

}  // namespace orvex
