#pragma once
// Runs independent jobs on several threads at once.
#include <cstddef>
#include <functional>

namespace orvex {

// The number of threads that keeps every core this process may run on busy (at least 1): a process
// held to some cores (taskset, a job's affinity) counts only those.
unsigned CoreCount();

// Calls job(i) for every i below count, on up to threads threads (0: CoreCount()), in order of i
// as threads become free. When a job raises, no further job starts and the first exception is
// raised again once the running jobs have ended.
void ParallelFor(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& job);

}  // namespace orvex
