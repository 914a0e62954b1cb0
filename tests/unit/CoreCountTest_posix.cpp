#include "util/Parallel.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

using namespace orvex;

// Held to one core (as by taskset -c 0), the process counts one thread's worth of cores.
TEST(CoreCount, CountsOnlyTheCoresTheProcessMayRunOn) {
    cpu_set_t before;
    ASSERT_EQ(::pthread_getaffinity_np(::pthread_self(), sizeof before, &before), 0);
    const int first = [&] {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &before)) return cpu;
        return -1;
    }();
    ASSERT_GE(first, 0);
    EXPECT_EQ(CoreCount(), static_cast<unsigned>(CPU_COUNT(&before)));
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(::pthread_setaffinity_np(::pthread_self(), sizeof one, &one), 0);
    const unsigned held = CoreCount();
    ASSERT_EQ(::pthread_setaffinity_np(::pthread_self(), sizeof before, &before), 0);
    EXPECT_EQ(held, 1u);
}
