#include "util/Parallel.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <bitset>

using namespace orvex;

// Held to one core (as by start /affinity 1), the process counts one thread's worth of cores.
TEST(CoreCount, CountsOnlyTheCoresTheProcessMayRunOn) {
    DWORD_PTR before = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &before, &system));
    EXPECT_EQ(CoreCount(), std::bitset<sizeof(DWORD_PTR) * 8>(before).count());
    const DWORD_PTR lowest = before & (~before + 1);
    ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), lowest));
    const unsigned held = CoreCount();
    ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), before));
    EXPECT_EQ(held, 1u);
}
