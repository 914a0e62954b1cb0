#include "update/BackgroundDownload.h"

#include <utility>

namespace orvex {

TBackgroundDownload::TBackgroundDownload(TWork work, TThen then) {
    FWorker.Post([this, work = std::move(work), then = std::move(then)](std::stop_token stop) { Run(work, then, stop); });
}

void TBackgroundDownload::Run(const TWork& work, const TThen& then, std::stop_token stop) {
    try {
        FOutcome = work(FRecorded, stop);
    } catch (...) {
        FError = std::current_exception();
    }
    FRecorded.Close();
    // The step's own exceptions are its to keep; the outcome above is handed over all the same.
    if (then && !FError) then(FOutcome, stop);
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FThenEnded = true;
    }
    FChanged.notify_one();
}

void TBackgroundDownload::WaitForThen() {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return FThenEnded; });
}

TDownloadOutcome TBackgroundDownload::Follow(TRunReports& reports) {
    FRecorded.FollowTo(reports);
    if (FError) std::rethrow_exception(FError);
    return FOutcome;
}

}  // namespace orvex
