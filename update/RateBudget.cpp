#include "update/RateBudget.h"

#include <algorithm>
#include <thread>

namespace orvex {

TRateBudget::TRateBudget(uint64_t bytesPerSecond, Clock::duration burst)
    : FRate(bytesPerSecond), FBurst(burst),
      FBurstBytes(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(burst).count()) *
                  bytesPerSecond / 1000000000u) {}

// Rounded up: the rate is never passed by rounding.
TRateBudget::Clock::duration TRateBudget::Cost(uint64_t bytes) const {
    const uint64_t perSecond = 1000000000u;
    const uint64_t whole = bytes / FRate, rest = bytes % FRate;
    const uint64_t nanoseconds = whole * perSecond + (rest * perSecond + FRate - 1) / FRate;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds));
}

TRateBudget::Clock::time_point TRateBudget::Reserve(uint64_t bytes, Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(FMutex);
    FFullAt = std::max(FFullAt, now) + Cost(bytes);
    return std::max(now, FFullAt - FBurst);
}

void TRateBudget::Take(uint64_t bytes) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point paid = Reserve(bytes, now);
    if (paid - now >= LeastSleep) std::this_thread::sleep_until(paid);
}

std::size_t TRateBudget::Slice(std::size_t cap) const {
    return static_cast<std::size_t>(std::clamp<uint64_t>(FBurstBytes, 1, cap));
}

}  // namespace orvex
