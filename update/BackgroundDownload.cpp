#include "update/BackgroundDownload.h"

#include <utility>

namespace orvex {

TBackgroundDownload::TBackgroundDownload(TWork work, TThen then) {
    FWorker.Post([this, work = std::move(work), then = std::move(then)](std::stop_token stop) { Run(work, then, stop); });
}

void TBackgroundDownload::Run(const TWork& work, const TThen& then, std::stop_token stop) {
    const TBar bar = [this](uint64_t position) {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            FPositions.push_back(position);
        }
        FChanged.notify_one();
    };
    TStringList notices;
    TDownloadOutcome outcome;
    std::exception_ptr error;
    try {
        outcome = work(bar, notices, stop);
    } catch (...) {
        error = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FNotices = std::move(notices);
        FOutcome = std::move(outcome);
        FError = error;
        FEnded = true;
    }
    FChanged.notify_one();
    // The step's own exceptions are its to keep; the outcome above is handed over all the same.
    if (then && !error) then(FOutcome, stop);
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

TDownloadOutcome TBackgroundDownload::Follow(const TBar& bar, const std::function<void(const std::string&)>& notify) {
    std::vector<uint64_t> positions;
    for (bool ended = false; !ended;) {
        {
            std::unique_lock<std::mutex> lock(FLock);
            FChanged.wait(lock, [this] { return FEnded || !FPositions.empty(); });
            positions.swap(FPositions);
            ended = FEnded;
        }
        // Reported outside the lock: the view may take its time, the download goes on meanwhile.
        for (const uint64_t position : positions) bar(position);
        positions.clear();
    }
    for (const std::string& notice : FNotices) notify(notice);
    if (FError) std::rethrow_exception(FError);
    return FOutcome;
}

}  // namespace orvex
