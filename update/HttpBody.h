#pragma once
// The HTTP client under DownloadToFile, one per OS (libcurl, WinINet): it opens a URL and hands the
// body over read by read. What becomes of the body is Download.cpp's.
#include "update/Limits.h"
#include "update/TransferWatch.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::http {

// Hears of the body as it arrives. An exception thrown here passes through FetchBody.
class IBodyReceiver {
public:
    virtual ~IBodyReceiver() = default;
    // The URL answered with this HTTP status; the body follows. continues: it is the rest of a body
    // asked for with a TRange, from exactly the byte asked for. Comes once, before the first read.
    virtual void BodyOpened(int status, bool continues) = 0;
    // One read of the body; count 0 once the client saw the body end.
    virtual void BodyRead(const void* data, std::size_t count) = 0;
};

// A request for the rest of a body: from byte From on, provided the server's file is still the one
// Validator names (an ETag, else a Last-Modified date, as an earlier answer gave it).
struct TRange {
    uint64_t From = 0;
    std::string Validator;
};

// How a fetch ended.
struct TFetchResult {
    bool Complete = false;  // the body arrived whole
    int Status = 0;         // the final answer's HTTP status; 0 when none came
    // Set when the watch gave the transfer up (TTransferWatch decides).
    TransferVerdict Watch = TransferVerdict::Going;
    // The silence and trickle the watch counted (TTransferWatch::Idle).
    std::chrono::milliseconds Idle{0};
    // Otherwise, when it broke: the system's or libcurl's words, and whether the same request may
    // well work a moment later (a refused, reset or timed-out connection, a name not found).
    std::string Error;
    bool Transient = false;
    std::optional<std::chrono::seconds> RetryAfter;  // as the answer asked, in seconds
    // What names this version of the file for a later TRange: the answer's strong ETag, else its
    // Last-Modified; empty when it gave neither.
    std::string Validator;
};

// Fetches url whatever the HTTP status, following redirects, through the system's proxy
// configuration and naming the updater as UserAgent. Complete only after BodyOpened and a final
// read of 0; the receiver hears nothing when the URL could not be opened.
// With range, asks for the rest of the body (Range and If-Range); the receiver hears whether the
// answer continues it or starts over.
TFetchResult FetchBody(const std::string& url, const TTransferLimits& limits, IBodyReceiver& receiver,
                       const std::optional<TRange>& range = std::nullopt);

// The first byte a Content-Range value ("bytes 100-999/1000") gives; nothing for anything else.
std::optional<uint64_t> ContentRangeStart(const std::string& value);
// The validator of an answer with these headers (either may be empty): a strong ETag, else the date;
// empty when the one chosen cannot go back in If-Range as it is (IsSendableValidator).
std::string ChooseValidator(const std::string& etag, const std::string& lastModified);
// Whether a validator is printable ASCII (space to "~"): anything else, a bare CR above all, could
// end the If-Range line and add a header of the server's choosing.
inline bool IsSendableValidator(std::string_view validator) {
    return std::all_of(validator.begin(), validator.end(), [](char c) { return c >= ' ' && c <= '~'; });
}
// Whether an answer of this status and Content-Range continues a body from byte from.
bool ContinuesFrom(int status, const std::string& contentRange, uint64_t from);

// A Retry-After header's delay in seconds; nothing for a date or anything else.
std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value);

}  // namespace orvex::http
