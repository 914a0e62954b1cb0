#pragma once
// The next entry's copy, downloading and then unpacking beside its file on a thread of its own
// while the current entry unpacks. The pass follows it when it reaches the entry and is shown what
// it reported as if it had waited for each step; only then is the file put in place. When the pass
// ends before that, it is stopped and what it fetched goes: the run leaves what a pass fetching one
// copy after the other would.
#include "base/TempFile.h"
#include "update/BackgroundDownload.h"
#include "update/RecordedReports.h"

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class TRunReports;

// Whether two listed files may be fetched at once: neither names the other, its copy or a file in
// it (the same file named twice, "a" and "a.bz2", "a" and "a\\b"), as Windows compares names.
bool Apart(const std::string& a, const std::string& b);

// Unpacks packed beside target and checks the file against md5; putting it in place is the caller's.
std::unique_ptr<TTempFile> UnpackVerified(const std::string& packed, const std::string& target, const std::string& md5,
                                          IUnpackObserver& observer, uint64_t freeSpaceReserve, unsigned threads);

class TPrefetchedCopy {
public:
    using TUnpack = std::function<std::unique_ptr<TTempFile>(IUnpackObserver& observer)>;

    TPrefetchedCopy(std::string packed, TBackgroundDownload::TWork work, TUnpack unpack);
    ~TPrefetchedCopy();
    TPrefetchedCopy(const TPrefetchedCopy&) = delete;
    TPrefetchedCopy& operator=(const TPrefetchedCopy&) = delete;

    // Shows reports what the download reports, as the pass would have, and returns its outcome.
    TDownloadOutcome Follow(TRunReports& reports);

    // After Follow gave a copy: shows reports the unpacking's reports, then puts the file in place
    // or raises what the unpacking raised.
    void Install(TRunReports& reports);

private:
    void UnpackAhead(const TUnpack& unpack, const TDownloadOutcome& outcome, std::stop_token stop);

    std::string FPacked;
    // Written by the download's thread before its step ends, read by the pass after WaitForThen.
    std::optional<TRecordedReports> FRecorded;
    std::unique_ptr<TTempFile> FUnpacked;
    std::exception_ptr FError;
    std::unique_ptr<TBackgroundDownload> FDownload;  // last: its thread uses the members above
    bool FFollowed = false;
};

// The copies of the entries after the one being fetched, downloading and unpacking while it
// unpacks: at most width of them, for entries that follow one another.
class TPrefetchWindow {
public:
    struct TStarted {
        std::string Path;
        std::unique_ptr<TPrefetchedCopy> Copy;  // none: the entry is fetched in turn
    };
    // Starts the copy of entry index apart from the paths busy; nothing when it cannot be.
    using TStart = std::function<TStarted(std::size_t index, const std::vector<std::string>& busy)>;

    TPrefetchWindow(std::size_t width, TStart start) : FWidth(width), FStart(std::move(start)) {}

    // The copy of entry index when it was started ahead; nothing otherwise.
    std::unique_ptr<TPrefetchedCopy> Take(std::size_t index);
    // Starts the copies of the entries after index that fit, apart from currentPath's entry.
    void FillAfter(std::size_t index, const std::string& currentPath);

private:
    struct TAhead {
        std::size_t Index;
        std::string Path;
        std::unique_ptr<TPrefetchedCopy> Copy;
    };
    std::size_t FWidth;
    TStart FStart;
    std::deque<TAhead> FAhead;
};

}  // namespace orvex
