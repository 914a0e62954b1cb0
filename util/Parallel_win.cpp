#include "util/Parallel.h"

#include <windows.h>

#include <algorithm>
#include <bitset>
#include <thread>

namespace orvex {

unsigned CoreCount() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) || process == 0)
        return std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
}

}  // namespace orvex
