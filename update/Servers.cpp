#include "update/Servers.h"

#include "base/Text.h"
#include "update/RecordedReports.h"

#include <algorithm>
#include <condition_variable>

namespace orvex {

namespace {

std::string AsFolder(std::string address) {
    if (!address.empty() && address.back() != '/') address += '/';
    return address;
}

// Sleeps for wait unless stop is requested first.
void Wait(std::chrono::milliseconds wait, const std::stop_token& stop) {
    std::mutex sleeping;
    std::unique_lock<std::mutex> lock(sleeping);
    if (std::condition_variable_any().wait_for(lock, stop, wait, [] { return false; }) || stop.stop_requested())
        throw TStopped{};
}

}  // namespace

TServers::TServers(const std::string& updatesUrl, const std::string& mirrors, const TTransferLimits& transfer,
                   const TRetryLimits& retry)
    : FTransfer(transfer), FRetry(retry) {
    FServers.push_back(AsFolder(updatesUrl));
    for (const std::string& mirror : SplitOnSpaces(mirrors)) FServers.push_back(AsFolder(mirror));
}

std::vector<std::string> TServers::InOrder() const {
    std::vector<std::string> servers = FServers;
    const std::lock_guard<std::mutex> lock(FLock);
    std::erase_if(servers, [this](const std::string& server) {
        return std::find(FPassedOver.begin(), FPassedOver.end(), server) != FPassedOver.end();
    });
    std::stable_partition(servers.begin(), servers.end(), [this](const std::string& server) {
        return std::find(FDead.begin(), FDead.end(), server) == FDead.end();
    });
    return servers;
}

bool TServers::IsMirror(const std::string& server) const { return server != FServers.front(); }

void TServers::PassOver(const std::string& server) {
    const std::lock_guard<std::mutex> lock(FLock);
    FPassedOver.push_back(server);
}

void TServers::MarkDead(const std::string& server) {
    const std::lock_guard<std::mutex> lock(FLock);
    if (std::find(FDead.begin(), FDead.end(), server) == FDead.end()) FDead.push_back(server);
}

// A round that brought a partial copy a good deal further does not count against the tries, so a
// link that breaks every few megabytes still delivers a large copy.
TDownloadOutcome TServers::Fetch(const std::string& name, const TTry& once, const TNotify& notify,
                                 const std::stop_token& stop) {
    constexpr uint64_t Progress = 64 * 1024;
    for (int tries = 1, failedRounds = 0;; ++tries) {
        // What the round ends with: a server's answer (an error status, a body too long) rather
        // than a server that could not be reached, so a copy one server lacks fails only its entry.
        TDownloadOutcome result;
        bool answered = false, passing = true, progressed = false;
        TStringList failures;
        for (const std::string& server : InOrder()) {
            if (stop.stop_requested()) throw TStopped{};
            const TDownloadOutcome outcome = once(server + name);
            if (outcome) return outcome;
            failures.push_back(server + name + ": " + outcome.Reason);
            passing = passing && outcome.Transient;
            progressed = progressed || outcome.KeptBytes >= Progress;
            if (!answered) result = outcome;
            answered = answered || outcome.Refused || outcome.TooLong;
            if (outcome.Status == 0 && outcome.Transient) MarkDead(server);
        }
        result.Transient = passing;
        failedRounds = progressed ? 0 : failedRounds + 1;
        const auto wait = RetryWait(result, std::max(failedRounds, 1), FRetry);
        if (!wait) {
            for (const std::string& failure : failures)
                notify(failure + (tries > 1 ? ", given up after " + std::to_string(tries) + " tries" : ", not retried"));
            return result;
        }
        Wait(*wait, stop);
    }
}

TReadReport TServers::Counted(const TBar& bar, const std::stop_token& stop) {
    return [this, &bar, stop](uint64_t bodyBytes, uint32_t received) {
        if (stop.stop_requested()) throw TStopped{};
        FBytes += received;
        if (bar) bar(bodyBytes);
    };
}

TDownloadOutcome TServers::TryToFile(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                     bool resumable, const TBar& bar, const std::stop_token& stop) {
    return DownloadToFile(url, fileName, maxBytes, FTransfer, Counted(bar, stop), resumable);
}

TDownloadOutcome TServers::FetchToFile(const std::string& name, const std::string& fileName, uint64_t maxBytes,
                                       bool resumable, const TBar& bar, bool showProgress, const TNotify& notify,
                                       const std::stop_token& stop) {
    return Fetch(
        name,
        [&](const std::string& url) {
            const TDownloadOutcome tried = TryToFile(url, fileName, maxBytes, resumable, showProgress ? bar : TBar(), stop);
            bar(0);
            return tried;
        },
        notify, stop);
}

TDownloadOutcome TServers::TryToMemory(const std::string& url, std::vector<uint8_t>& body, uint64_t maxBytes,
                                       const std::stop_token& stop) {
    return DownloadToMemory(url, body, maxBytes, FTransfer, Counted({}, stop));
}

}  // namespace orvex
