#include "update/TransferWatch.h"

namespace orvex {

TTransferWatch::TTransferWatch(const TTransferLimits& limits, Clock::time_point start)
    : FLimits(limits), FRequestStart(start), FLastProgress(start), FPeriodStart(start) {}

void TTransferWatch::Answered(Clock::time_point now) {
    FLastProgress = now;
    if (FAnswered) return;
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
        const auto periodMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - FPeriodStart).count();
        const uint64_t floor = static_cast<uint64_t>(FLimits.MinBytesPerSecond) * static_cast<uint64_t>(periodMs) / 1000;
        if (FTotal - FPeriodStartBytes < floor) {
            FVerdict = TransferVerdict::TooSlow;
        } else {
            FPeriodStart = now;
            FPeriodStartBytes = FTotal;
        }
    }
    return FVerdict;
}

}  // namespace orvex
