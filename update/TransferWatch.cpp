#include "update/TransferWatch.h"

#include <algorithm>

namespace orvex {

TTransferWatch::TTransferWatch(const TTransferLimits& limits, Clock::time_point start)
    : FLimits(limits), FRequestStart(start), FLastProgress(start), FPeriodStart(start) {}

void TTransferWatch::Answered(Clock::time_point now) {
    FLastProgress = now;
    if (FAnswered) return;
    FIdleBefore += now - FRequestStart;
    FAnswered = true;
    FPeriodStart = now;
    FPeriodStartBytes = FTotal;
}

void TTransferWatch::Received(uint64_t total, Clock::time_point now) {
    if (!FAnswered) Answered(now);
    if (total > FTotal) FLastProgress = now;
    FTotal = total;
}

void TTransferWatch::Redirected(Clock::time_point now) {
    if (++FRedirects > FLimits.MaxRedirects && FVerdict == TransferVerdict::Going)
        FVerdict = TransferVerdict::TooManyRedirects;
    if (!FAnswered) FIdleBefore += now - FRequestStart;
    FAnswered = false;
    FRequestStart = now;
    FTotal = 0;
}

TransferVerdict TTransferWatch::Check(Clock::time_point now) {
    if (FVerdict != TransferVerdict::Going) return FVerdict;
    if (!FAnswered) {
        if (now - FRequestStart >= FLimits.Answer) FVerdict = TransferVerdict::NoAnswer;
    } else if (now - FLastProgress >= FLimits.Stall) {
        FVerdict = TransferVerdict::Stalled;
    } else if (now - FPeriodStart >= FLimits.SpeedPeriod) {
        if (BelowFloor(now)) {
            FVerdict = TransferVerdict::TooSlow;
        } else {
            FPeriodStart = now;
            FPeriodStartBytes = FTotal;
        }
    }
    if (FVerdict == TransferVerdict::Going && Idle(now) >= FLimits.Idle) FVerdict = TransferVerdict::OutOfTime;
    return FVerdict;
}

// The current speed period so far brought less than the floor asks of it.
bool TTransferWatch::BelowFloor(Clock::time_point now) const {
    const auto periodMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - FPeriodStart).count();
    const uint64_t floor = static_cast<uint64_t>(FLimits.MinBytesPerSecond) * static_cast<uint64_t>(periodMs) / 1000;
    return FTotal - FPeriodStartBytes < floor;
}

std::chrono::milliseconds TTransferWatch::Idle(Clock::time_point now) const {
    Clock::duration current = now - FRequestStart;
    if (FAnswered) {
        const Clock::duration trickle = BelowFloor(now) ? now - FPeriodStart : Clock::duration::zero();
        current = std::max(now - FLastProgress, trickle);
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(FIdleBefore + current);
}

}  // namespace orvex
