#pragma once
// INI file text as the Windows profile functions see it, for the systems that lack them.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::ini {

// Longest value a read returns: what fits a 2048-byte buffer with its terminating zero.
inline constexpr std::size_t MaxValueLength = 2047;

// The value of [section] key= as a read returns it (trimmed, one pair of surrounding quotes
// removed, cut to MaxValueLength); nothing when the section, the key or its "=" is missing.
std::optional<std::string> FindValue(std::string_view content, std::string_view section, std::string_view key);

// The default as a read returns it: trailing blanks and one pair of surrounding quotes removed.
std::string CleanDefault(std::string_view defaultValue);

// The content with [section] key=value set. Only the key's own line changes; a missing key goes
// after the last line of its section, a missing section at the end. A key that already has the
// value (blanks around it aside, as the Windows functions compare) leaves the content as it is.
std::string SetValue(std::string_view content, std::string_view section, std::string_view key,
                     std::string_view value);

}  // namespace orvex::ini
