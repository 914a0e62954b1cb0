#pragma once
// The one network operation: fetch a URL into a file, byte for byte, reporting each read.
#include <cstdint>
#include <functional>
#include <string>

namespace orvex {

inline constexpr const char* UserAgent = "OrvexClientUpdater";

// Stores the response body of url in fileName, whatever the HTTP status; redirects are followed and
// the system's proxy configuration is used. onRead gets the byte count of every read and a final 0
// once the body ended.
// Returns false, leaving fileName untouched, when the URL cannot be opened; returns false and
// removes the partial file when the transfer breaks before the body is complete.
// Raises the stream errors when fileName cannot be created or written; an exception from onRead
// passes through. In both cases the partial file is removed.
bool DownloadToFile(const std::string& url, const std::string& fileName,
                    const std::function<void(uint32_t bytesThisRead)>& onRead);

}  // namespace orvex
