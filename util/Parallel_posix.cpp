#include "util/Parallel.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace orvex {

unsigned CoreCount() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    // Fails on a machine with more cores than a cpu_set_t holds: that one counts all its cores.
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return std::max(1u, std::thread::hardware_concurrency());
    return std::max(1, CPU_COUNT(&allowed));
}

}  // namespace orvex
