#pragma once
// How far the run lets a server and a download go before it gives up: every default in one place
// (README, "Limits"). Tests shorten them; the launcher and orvex-update use them as they are.
#include "formats/Unpack.h"
#include "update/RateBudget.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

namespace orvex {

// When one HTTP transfer is given up.
struct TTransferLimits {
    // Connecting and waiting for the headers of each answer (each redirect starts again).
    std::chrono::milliseconds Answer{std::chrono::seconds(30)};
    // Longest time without a byte of the body.
    std::chrono::milliseconds Stall{std::chrono::seconds(60)};
    // Each period of the body must bring at least MinBytesPerSecond on average: a trickle that
    // never quite stalls still ends, while a slow modem (~5 KB/s) always clears it.
    uint32_t MinBytesPerSecond = 1024;
    std::chrono::milliseconds SpeedPeriod{std::chrono::seconds(60)};
    int MaxRedirects = 10;
    // A body written to a file stops before the volume's free space falls below this, as
    // unpacking does (a run gives both its FreeSpaceReserve).
    uint64_t FreeSpaceReserve = DefaultFreeSpaceReserve;
    // Silence and trickle in all (waiting for an answer, no byte of the body, a speed period below
    // MinBytesPerSecond so far): of one transfer, and of one address over all its tries together
    // (update/Servers), so a server that never answers or only trickles is given up in time.
    std::chrono::milliseconds Idle{std::chrono::seconds(90)};
    // The run's MaxRate, shared by all its transfers; none: no cap.
    std::shared_ptr<TRateBudget> Budget;
};

// How often a download that failed for a passing reason is tried, and how long the run waits
// between the tries: FirstWait, doubling, never over MaxWait (also when the server asks for more).
struct TRetryLimits {
    int Tries = 5;
    std::chrono::milliseconds FirstWait{std::chrono::seconds(1)};
    std::chrono::milliseconds MaxWait{std::chrono::seconds(30)};
};

inline constexpr uint64_t MiB = 1024 * 1024;

// A body the list gives no size for.
inline constexpr uint64_t MaxUnsizedBody = 64 * MiB;

struct TRunLimits {
    TTransferLimits Transfer;
    TRetryLimits Retry;
    // files.lst.bz2 and its text. A list of 100,000 entries is about 12 MiB of text, 4 MiB packed.
    uint64_t MaxPackedList = 32 * MiB;
    uint64_t MaxListText = 128 * MiB;
    // Unpacking and downloads stop before the volume's free space falls below this.
    uint64_t FreeSpaceReserve = DefaultFreeSpaceReserve;
    // Threads for checking, fetching and unpacking; 0: one per core.
    unsigned Threads = 0;
    // MaxRate: body bytes per second over all the run's transfers together; 0: no cap.
    uint64_t MaxRate = 0;
};

// Under a cap a transfer gets only its share of it, so the speed floor asks at most this part of
// the cap: the cap alone never makes a transfer too slow.
inline constexpr uint64_t CappedFloorShare = 64;

// The run's transfer limits, keeping its free space reserve in downloads as in unpacking; with a
// MaxRate, each call makes a budget of its own: one per run.
inline TTransferLimits TransferLimitsOf(const TRunLimits& limits) {
    TTransferLimits transfer = limits.Transfer;
    transfer.FreeSpaceReserve = limits.FreeSpaceReserve;
    if (limits.MaxRate > 0) {
        transfer.Budget = std::make_shared<TRateBudget>(limits.MaxRate);
        transfer.MinBytesPerSecond =
            static_cast<uint32_t>(std::min<uint64_t>(transfer.MinBytesPerSecond, limits.MaxRate / CappedFloorShare));
    }
    return transfer;
}

}  // namespace orvex
