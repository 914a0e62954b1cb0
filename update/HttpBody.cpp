#include "update/HttpBody.h"

#include <algorithm>
#include <cctype>

namespace orvex::http {

std::optional<uint64_t> ContentRangeStart(const std::string& value) {
    const std::string prefix = "bytes ";
    if (value.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::size_t dash = value.find('-', prefix.size());
    if (dash == std::string::npos || dash == prefix.size() || dash - prefix.size() > 19) return std::nullopt;
    uint64_t start = 0;
    for (std::size_t i = prefix.size(); i < dash; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(value[i]))) return std::nullopt;
        start = start * 10 + static_cast<uint64_t>(value[i] - '0');
    }
    return start;
}

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
    // If-Range takes only a strong ETag.
    const std::string& chosen = !etag.empty() && etag.compare(0, 2, "W/") != 0 ? etag : lastModified;
    return IsSendableValidator(chosen) ? chosen : std::string();
}

bool ContinuesFrom(int status, const std::string& contentRange, uint64_t from) {
    return status == 206 && ContentRangeStart(contentRange) == from;
}

std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value) {
    const std::size_t begin = value.find_first_not_of(" \t");
    const std::size_t end = value.find_last_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::nullopt;
    const std::string digits = value.substr(begin, end - begin + 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
        return std::nullopt;
    return std::chrono::seconds(std::stol(digits));
}

}  // namespace orvex::http
