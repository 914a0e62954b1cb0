#pragma once
// The HTTP client under DownloadToFile, one per OS (libcurl, WinINet): it opens a URL and hands the
// body over read by read. What becomes of the body is Download.cpp's.
#include "update/Limits.h"
#include "update/TransferWatch.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace orvex::http {

// Hears of the body as it arrives. An exception thrown here passes through FetchBody.
class IBodyReceiver {
public:
    virtual ~IBodyReceiver() = default;
    // The URL answered with this HTTP status; the body follows. Comes once, before the first read.
    virtual void BodyOpened(int status) = 0;
    // One read of the body; count 0 once the client saw the body end.
    virtual void BodyRead(const void* data, std::size_t count) = 0;
};

// How a fetch ended.
struct TFetchResult {
    bool Complete = false;  // the body arrived whole
    int Status = 0;         // the final answer's HTTP status; 0 when none came
    // Set when the watch gave the transfer up (TTransferWatch decides).
    TransferVerdict Watch = TransferVerdict::Going;
    // Otherwise, when it broke: the system's or libcurl's words, and whether the same request may
    // well work a moment later (a refused, reset or timed-out connection, a name not found).
    std::string Error;
    bool Transient = false;
    std::optional<std::chrono::seconds> RetryAfter;  // as the answer asked, in seconds
};

// Fetches url whatever the HTTP status, following redirects, through the system's proxy
// configuration and naming the updater as UserAgent. Complete only after BodyOpened and a final
// read of 0; the receiver hears nothing when the URL could not be opened.
TFetchResult FetchBody(const std::string& url, const TTransferLimits& limits, IBodyReceiver& receiver);

// A Retry-After header's delay in seconds; nothing for a date or anything else.
std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value);

}  // namespace orvex::http
