#pragma once
// Decides when an HTTP transfer has gone on long enough, from the times and byte counts the HTTP
// client feeds in. The clock is the caller's, so the decisions are tested without waiting.
#include "update/Limits.h"

#include <chrono>
#include <cstdint>

namespace orvex {

// OutOfTime: more silence and trickle in all than the limits' Idle.
enum class TransferVerdict { Going, NoAnswer, Stalled, TooSlow, TooManyRedirects, OutOfTime };

class TTransferWatch {
public:
    using Clock = std::chrono::steady_clock;

    TTransferWatch(const TTransferLimits& limits, Clock::time_point start);

    // A header of an answer arrived; its body comes next.
    void Answered(Clock::time_point now);
    // The body so far is total bytes long.
    void Received(uint64_t total, Clock::time_point now);
    // The answer sends the client on: a new request, which has to answer in time again.
    void Redirected(Clock::time_point now);

    // Going while the transfer may go on; once it returns anything else it keeps doing so.
    TransferVerdict Check(Clock::time_point now);

    // The silence and trickle so far: waiting for answers, and since the body began the longer of
    // the time without a byte and the current speed period while it is below the floor.
    std::chrono::milliseconds Idle(Clock::time_point now) const;

private:
    bool BelowFloor(Clock::time_point now) const;

    TTransferLimits FLimits;
    TransferVerdict FVerdict = TransferVerdict::Going;
    bool FAnswered = false;
    int FRedirects = 0;
    Clock::time_point FRequestStart;
    Clock::time_point FLastProgress;
    Clock::time_point FPeriodStart;
    uint64_t FPeriodStartBytes = 0;
    uint64_t FTotal = 0;
    Clock::duration FIdleBefore{};  // waiting for the answers before the current one
};

}  // namespace orvex
