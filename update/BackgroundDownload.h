#pragma once
// A download that runs on a thread of its own while the run does something else, and is followed
// later: every file-bar position it reported is handed over then, in order, as if the run had
// waited for it, and then its notices. A step of the caller's may follow the download on the same
// thread (unpacking the copy), to be waited for once the download has been followed.
#include "base/Text.h"
#include "update/Download.h"
#include "util/WorkerPool.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace orvex {

class TBackgroundDownload {
public:
    using TBar = std::function<void(uint64_t position)>;
    // The download: it reports the file bar's positions through bar and what the player is to hear
    // through notices, and ends early once stop is requested.
    using TWork = std::function<TDownloadOutcome(const TBar& bar, TStringList& notices, std::stop_token stop)>;

    // What follows a download that ended without an exception; it is given the outcome.
    using TThen = std::function<void(const TDownloadOutcome& outcome, std::stop_token stop)>;

    explicit TBackgroundDownload(TWork work, TThen then = {});
    // Stops the download if it still runs and waits for its thread.
    ~TBackgroundDownload() = default;
    TBackgroundDownload(const TBackgroundDownload&) = delete;
    TBackgroundDownload& operator=(const TBackgroundDownload&) = delete;

    // Hands every position over to bar, those reported so far and those still to come, then every
    // notice to notify, and returns the outcome once the download has ended; an exception of the
    // download is raised here. Once only.
    TDownloadOutcome Follow(const TBar& bar, const std::function<void(const std::string&)>& notify);
    // Returns once the step after the download has ended, or at once when there is none.
    void WaitForThen();

private:
    void Run(const TWork& work, const TThen& then, std::stop_token stop);

    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<uint64_t> FPositions;
    TStringList FNotices;
    bool FEnded = false;
    bool FThenEnded = false;
    TDownloadOutcome FOutcome;
    std::exception_ptr FError;
    TWorkerPool FWorker{1};  // last: runs once the members above exist, stopped and waited for first
};

}  // namespace orvex
