#pragma once
// A download that runs on a thread of its own while the run does something else, and is followed
// later: what it reported (file-bar positions, then its notices) is shown then, in order, as if
// the run had waited for it. A step of the caller's may follow the download on the same thread
// (unpacking the copy), to be waited for once the download has been followed.
#include "update/Download.h"
#include "update/RecordedReports.h"
#include "util/WorkerPool.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>

namespace orvex {

class TRunReports;

class TBackgroundDownload {
public:
    // The download: it records what the player is to see and hear, and ends early once stop is
    // requested.
    using TWork = std::function<TDownloadOutcome(TRecordedReports& reports, std::stop_token stop)>;

    // What follows a download that ended without an exception; it is given the outcome.
    using TThen = std::function<void(const TDownloadOutcome& outcome, std::stop_token stop)>;

    explicit TBackgroundDownload(TWork work, TThen then = {});
    // Stops the download if it still runs and waits for its thread.
    ~TBackgroundDownload() = default;
    TBackgroundDownload(const TBackgroundDownload&) = delete;
    TBackgroundDownload& operator=(const TBackgroundDownload&) = delete;

    // Shows reports what the download recorded so far and what it records until it ends, then
    // returns its outcome; an exception of the download is raised here. Once only.
    TDownloadOutcome Follow(TRunReports& reports);
    // Returns once the step after the download has ended, or at once when there is none.
    void WaitForThen();

private:
    void Run(const TWork& work, const TThen& then, std::stop_token stop);

    TRecordedReports FRecorded;
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FThenEnded = false;
    // Written before FRecorded is closed, read once it has been followed to its end.
    TDownloadOutcome FOutcome;
    std::exception_ptr FError;
    TWorkerPool FWorker{1};  // last: runs once the members above exist, stopped and waited for first
};

}  // namespace orvex
