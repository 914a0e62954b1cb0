#include "util/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

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
        // jthreads join when they go, also when starting a later one fails.
        std::vector<std::jthread> pool;
        pool.reserve(workers - 1);
        for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
        work();
    }
    if (firstError) std::rethrow_exception(firstError);
}

}  // namespace orvex
