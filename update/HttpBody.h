#pragma once
// The HTTP client under DownloadToFile, one per OS (libcurl, WinINet): it opens a URL and hands the
// body over read by read. What becomes of the body is Download.cpp's.
#include "update/Limits.h"

#include <cstddef>
#include <string>

namespace orvex::http {

// Hears of the body as it arrives. An exception thrown here passes through FetchBody.
class IBodyReceiver {
public:
    virtual ~IBodyReceiver() = default;
    // The URL answered; the body follows. Comes once, before the first read.
    virtual void BodyOpened() = 0;
    // One read of the body; count 0 once the client saw the body end.
    virtual void BodyRead(const void* data, std::size_t count) = 0;
};

// Fetches url whatever the HTTP status, following redirects, through the system's proxy
// configuration and naming the updater as UserAgent. True when the body arrived complete, which is
// only after BodyOpened and a final read of 0; false when the URL could not be opened (the receiver
// heard nothing) or the transfer broke. A transfer that passes limits (TTransferWatch decides) is
// given up as a broken one.
bool FetchBody(const std::string& url, const TTransferLimits& limits, IBodyReceiver& receiver);

}  // namespace orvex::http
