#pragma once
// The one network operation: fetch a URL into a file, byte for byte, reporting each read.
#include "update/Limits.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

inline constexpr const char* UserAgent = "OrvexClientUpdater";

// How a download ended.
struct TDownloadOutcome {
    bool Complete = false;
    // The body went on past the longest allowed and was given up; the URL itself answered.
    bool TooLong = false;
    // The server answered with a status other than 2xx (Status): nothing was stored.
    bool Refused = false;
    int Status = 0;  // of the final answer; 0 when none came
    // What went wrong, in words for the player's and operator's notices; empty when complete.
    std::string Reason;
    // Another try may well succeed: the connection failed, broke or stalled, or the server said
    // it is busy (408, 429, 500, 502, 503, 504).
    bool Transient = false;
    std::optional<std::chrono::seconds> RetryAfter;
    // The address asked.
    std::string Url;
    // Of a resumable download that broke: the bytes this try added to the partial copy it kept.
    uint64_t KeptBytes = 0;
    // The silence and trickle of this try (TTransferLimits::Idle).
    std::chrono::milliseconds Idle{0};
    explicit operator bool() const { return Complete; }
};

// Hears of each read of a body: the body's bytes so far (counting those a partial copy already
// held) and the bytes of this read (0 once, when a partial copy is continued).
using TReadReport = std::function<void(uint64_t bodyBytes, uint32_t bytesThisRead)>;

// A resumable download gathers its body in fileName + PartialSuffix and keeps the validator of the
// answer (ETag or Last-Modified) in fileName + PartialTagSuffix while it is incomplete.
inline constexpr const char* PartialSuffix = ".orvex-partial";
inline constexpr const char* PartialTagSuffix = ".orvex-partial-tag";

// Stores the response body of url in fileName when the answer's status is 2xx; redirects are
// followed and the system's proxy configuration is used. Complete once the whole body is stored.
// Not complete, leaving fileName untouched, when the URL cannot be opened; not complete, removing
// fileName, when the answer is not 2xx (Refused), when the transfer breaks before the body is
// complete, passes limits, or its body passes maxBytes (TooLong: the transfer stops at that read).
// Resumable: a body that broke after its answer named its version is kept as a partial copy, and
// the next call asks for the rest only (If-Range), starting over when the server sends the whole
// body, refuses the range (416) or has another version; a part of another range fails the try.
// Nothing partial ever takes fileName's place.
// Raises the stream errors when fileName cannot be created or written; an exception from onRead
// passes through. In both cases the partial file is removed.
TDownloadOutcome DownloadToFile(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                const TTransferLimits& limits, const TReadReport& onRead, bool resumable = false);

// As DownloadToFile, into body (emptied first, and emptied again when the download is not
// complete), never resumable; for small bodies such as chunks.
TDownloadOutcome DownloadToMemory(const std::string& url, std::vector<uint8_t>& body, uint64_t maxBytes,
                                  const TTransferLimits& limits, const TReadReport& onRead);

// Removes the partial copy a resumable download of fileName kept, if any.
void DiscardPartialCopy(const std::string& fileName);

// Whether an answer with this status is worth another try.
bool IsTransientStatus(int status);

// The wait before the next try of a download that ended with outcome after triesDone tries, or
// nothing when it is not to be tried again: complete, not transient, or out of tries. Doubles from
// limits.FirstWait; the server's Retry-After replaces it; never over limits.MaxWait.
std::optional<std::chrono::milliseconds> RetryWait(const TDownloadOutcome& outcome, int triesDone,
                                                   const TRetryLimits& limits);

}  // namespace orvex
