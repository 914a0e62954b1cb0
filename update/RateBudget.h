#pragma once
// The bytes per second every transfer of a run shares (MaxRate): a token bucket with a small burst.
// A transfer takes what each read brought and waits, outside the lock, until the bucket has paid
// for it, so the run's body bytes over any span stay within the rate plus about one burst.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace orvex {

class TRateBudget {
public:
    using Clock = std::chrono::steady_clock;

    // bytesPerSecond > 0; the bucket holds burst's worth of bytes, and starts full.
    explicit TRateBudget(uint64_t bytesPerSecond, Clock::duration burst = std::chrono::milliseconds(100));

    // Takes bytes at now: the time from which they are paid for, now when the bucket held them.
    Clock::time_point Reserve(uint64_t bytes, Clock::time_point now);
    // Takes bytes and sleeps until they are paid for, unless that is less than LeastSleep away.
    void Take(uint64_t bytes);

    // A debt this small is left for a later take to pay: a thread that slept at each small read
    // would be held back by the system's sleep granularity (whole milliseconds on Windows) rather
    // than by the rate. The bytes over any span stay within the rate plus a burst and this.
    static constexpr Clock::duration LeastSleep = std::chrono::milliseconds(5);

    // The most a read should bring at once: the burst's worth, within 1 and cap.
    std::size_t Slice(std::size_t cap) const;

private:
    Clock::duration Cost(uint64_t bytes) const;

    const uint64_t FRate;
    const Clock::duration FBurst;
    const uint64_t FBurstBytes;
    std::mutex FMutex;
    // When the bucket is full again, having paid for every byte taken; at or before now: it is full.
    Clock::time_point FFullAt{};
};

}  // namespace orvex
