#pragma once
// The one network operation: fetch a URL into a file, byte for byte, reporting each read.
#include "update/Limits.h"

#include <cstdint>
#include <functional>
#include <string>

namespace orvex {

inline constexpr const char* UserAgent = "OrvexClientUpdater";

// How a download ended.
struct TDownloadOutcome {
    bool Complete = false;
    // The body went on past the longest allowed and was given up; the URL itself answered.
    bool TooLong = false;
    explicit operator bool() const { return Complete; }
};

// Stores the response body of url in fileName, whatever the HTTP status; redirects are followed and
// the system's proxy configuration is used. Complete once the whole body is stored.
// Not complete, leaving fileName untouched, when the URL cannot be opened; not complete, removing
// the partial file, when the transfer breaks before the body is complete, passes limits, or its
// body passes maxBytes (TooLong: the transfer stops at that read).
// Raises the stream errors when fileName cannot be created or written; an exception from onRead
// passes through. In both cases the partial file is removed.
TDownloadOutcome DownloadToFile(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                const TTransferLimits& limits,
                                const std::function<void(uint32_t bytesThisRead)>& onRead);

}  // namespace orvex
