#include "update/Servers.h"

#include "base/Text.h"
#include "update/RecordedReports.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <optional>

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

std::string Tries(int tries) { return std::to_string(tries) + (tries == 1 ? " try" : " tries"); }

std::string Seconds(std::chrono::milliseconds span) {
    const auto ms = span.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// The silence and trickle each address of one fetch had in its tries, against the limit for one.
class TIdleAccount {
public:
    explicit TIdleAccount(std::chrono::milliseconds limit) : FLimit(limit) {}

    bool Spent(const std::string& url) const {
        const auto found = FSpent.find(url);
        return found != FSpent.end() && found->second >= FLimit;
    }
    // The run's limits for the next try at url, with what is left of its allowance.
    TTransferLimits LimitsFor(const std::string& url, TTransferLimits limits) const {
        const auto found = FSpent.find(url);
        if (found != FSpent.end()) limits.Idle = FLimit - found->second;
        return limits;
    }
    // Adds a try's silence and trickle; true when the address has now had its fill.
    bool Charge(const std::string& url, std::chrono::milliseconds idle) {
        FSpent[url] += idle;
        return Spent(url);
    }
    bool AllSpent(const std::vector<std::string>& servers, const std::string& name) const {
        return std::all_of(servers.begin(), servers.end(), [&](const std::string& server) { return Spent(server + name); });
    }

private:
    std::chrono::milliseconds FLimit;
    std::map<std::string, std::chrono::milliseconds> FSpent;
};

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
                                 const std::stop_token& stop, const TRetrying& retrying) {
    constexpr uint64_t Progress = 64 * 1024;
    TIdleAccount idle(FTransfer.Idle);
    TStringList givenUp;
    for (int tries = 1, failedRounds = 0;; ++tries) {
        // What the round ends with: a server's answer (an error status, a body too long) rather
        // than a server that could not be reached, so a copy one server lacks fails only its entry.
        TDownloadOutcome result;
        bool answered = false, passing = true, progressed = false;
        TStringList failures;
        for (const std::string& server : InOrder()) {
            if (stop.stop_requested()) throw TStopped{};
            const std::string url = server + name;
            if (idle.Spent(url)) continue;
            const TDownloadOutcome outcome = once(url, idle.LimitsFor(url, FTransfer));
            if (outcome) return outcome;
            const std::string failure = url + ": " + outcome.Reason;
            passing = passing && outcome.Transient;
            progressed = progressed || outcome.KeptBytes >= Progress;
            if (!answered) result = outcome;
            answered = answered || outcome.Refused || outcome.TooLong;
            if (outcome.Status == 0 && outcome.Transient) MarkDead(server);
            if (!idle.Charge(url, outcome.Idle)) {
                failures.push_back(failure);
                continue;
            }
            MarkDead(server);
            givenUp.push_back(failure + ", given up after " + Tries(tries) + " and " + Seconds(FTransfer.Idle) +
                              " of silence or trickle");
        }
        result.Transient = passing;
        failedRounds = progressed ? 0 : failedRounds + 1;
        const int triesDone = std::max(failedRounds, 1);
        const auto wait = idle.AllSpent(InOrder(), name) ? std::nullopt : RetryWait(result, triesDone, FRetry);
        if (!wait) {
            for (const std::string& failure : givenUp) notify(failure);
            for (const std::string& failure : failures)
                notify(failure + (tries > 1 ? ", given up after " + Tries(tries) : ", not retried"));
            return result;
        }
        if (retrying) retrying(triesDone + 1, FRetry.Tries);
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

TDownloadOutcome TServers::TryToFile(const std::string& url, const TTransferLimits& limits, const std::string& fileName,
                                     uint64_t maxBytes, bool resumable, const TBar& bar, const std::stop_token& stop) {
    return DownloadToFile(url, fileName, maxBytes, limits, Counted(bar, stop), resumable);
}

TDownloadOutcome TServers::FetchToFile(const std::string& name, const std::string& fileName, uint64_t maxBytes,
                                       bool resumable, const TBar& bar, bool showProgress, const TNotify& notify,
                                       const std::stop_token& stop, const TRetrying& retrying) {
    return Fetch(
        name,
        [&](const std::string& url, const TTransferLimits& limits) {
            const TDownloadOutcome tried =
                TryToFile(url, limits, fileName, maxBytes, resumable, showProgress ? bar : TBar(), stop);
            bar(0);
            return tried;
        },
        notify, stop, retrying);
}

TDownloadOutcome TServers::TryToMemory(const std::string& url, const TTransferLimits& limits, std::vector<uint8_t>& body,
                                       uint64_t maxBytes, const std::stop_token& stop) {
    return DownloadToMemory(url, body, maxBytes, limits, Counted({}, stop));
}

}  // namespace orvex
