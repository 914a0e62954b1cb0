#pragma once
// The servers of one run: UpdatesUrl and the mirrors, those that did not answer, the tries and the
// waits between them, and every byte downloaded. Safe to use from any thread; never touches the view.
#include "update/Download.h"
#include "update/Limits.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

namespace orvex {

class TServers {
public:
    // updatesUrl and each mirror get a closing "/" when they lack one.
    TServers(const std::string& updatesUrl, const std::string& mirrors, const TTransferLimits& transfer,
             const TRetryLimits& retry);

    // The servers in the order to ask them: UpdatesUrl and the mirrors as the settings give them,
    // those that did not answer earlier in the run last, those passed over not at all.
    std::vector<std::string> InOrder() const;
    // Whether server (as InOrder gives it) is one of the mirrors rather than UpdatesUrl.
    bool IsMirror(const std::string& server) const;
    // server is asked for nothing more in this run (a mirror behind the installation).
    void PassOver(const std::string& server);

    // One try at an address within limits (the run's, with what is left of the address's Idle);
    // TStopped ends it once a stop is requested.
    using TTry = std::function<TDownloadOutcome(const std::string& url, const TTransferLimits& limits)>;
    // name (relative to the server folder) from the first server that has it, in rounds over every
    // server; a round of passing failures only is tried again after a wait. An address whose tries
    // had the transfer limits' Idle of silence and trickle in all is given up (its server is then
    // asked last for the rest of the run), and the others go on. The failures of the addresses given
    // up and of the last round go to notify with their addresses and how often they were tried.
    using TNotify = std::function<void(const std::string& text)>;
    // Hears that the run waits before the round counted as try nextTry of tries.
    using TRetrying = std::function<void(int nextTry, int tries)>;
    TDownloadOutcome Fetch(const std::string& name, const TTry& once, const TNotify& notify,
                           const std::stop_token& stop = {}, const TRetrying& retrying = {});

    // One try at url into fileName (DownloadToFile); bar hears the body's bytes at each read.
    using TBar = std::function<void(uint64_t position)>;
    TDownloadOutcome TryToFile(const std::string& url, const TTransferLimits& limits, const std::string& fileName,
                               uint64_t maxBytes, bool resumable, const TBar& bar, const std::stop_token& stop = {});
    // name (Fetch), each try into fileName (TryToFile); bar hears 0 after each try, and the body's
    // bytes during it when showProgress.
    TDownloadOutcome FetchToFile(const std::string& name, const std::string& fileName, uint64_t maxBytes,
                                 bool resumable, const TBar& bar, bool showProgress, const TNotify& notify,
                                 const std::stop_token& stop = {}, const TRetrying& retrying = {});
    // One try at url into memory (DownloadToMemory).
    TDownloadOutcome TryToMemory(const std::string& url, const TTransferLimits& limits, std::vector<uint8_t>& body,
                                 uint64_t maxBytes, const std::stop_token& stop = {});

    // Every byte downloaded, all tries included.
    uint64_t BytesDownloaded() const { return FBytes.load(); }

private:
    void MarkDead(const std::string& server);
    TReadReport Counted(const TBar& bar, const std::stop_token& stop);

    std::vector<std::string> FServers;
    TTransferLimits FTransfer;
    TRetryLimits FRetry;
    mutable std::mutex FLock;
    std::vector<std::string> FDead;
    std::vector<std::string> FPassedOver;
    std::atomic<uint64_t> FBytes{0};
};

}  // namespace orvex
