#pragma once
// Text helpers that keep the rules inherited from the UI framework the launcher's behaviour comes
// from (whole-number conversion, booleans, trimming), and the small byte-wise ones every layer
// shares (prefixes, suffixes, ASCII case, fields between spaces).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// A list of texts: ordered, unsorted, duplicates allowed.
using TStringList = std::vector<std::string>;

// Strict conversion: optional leading blanks, optional sign, decimal digits or hexadecimal after
// "$", "0x" or "0X", nothing after the digits, within 32 bits. Raises EConvertError with
// "'%s' is not a valid integer value" otherwise.
int32_t StrToInt(std::string_view text);
// Lenient conversion: the default for anything StrToInt refuses.
int32_t StrToIntDef(std::string_view text, int32_t defaultValue);
// Same rules as StrToInt; false when refused.
[[nodiscard]] bool TryStrToInt(std::string_view text, int32_t& value);

// "true"/"false" in any case, or a whole number (0 is false); raises EConvertError with
// "'%s' is not a valid boolean value" otherwise.
bool StrToBool(std::string_view text);

// Removes every character with a code up to 32 from both ends.
std::string Trim(std::string_view text);

std::string IntToStr(int64_t value);

[[nodiscard]] bool StartsWith(std::string_view text, std::string_view prefix);
[[nodiscard]] bool EndsWith(std::string_view text, std::string_view suffix);

// A-Z to a-z; every other byte, those of other code pages included, stays.
[[nodiscard]] char LowerAscii(char c);
[[nodiscard]] std::string LowerAscii(std::string_view text);
// Equal but for the case of A-Z.
[[nodiscard]] bool SameTextAscii(std::string_view a, std::string_view b);

// The text in double quotes, as messages show names.
[[nodiscard]] std::string Quoted(std::string_view text);

// Every byte for which mustEscape is true as prefix and two uppercase hexadecimal digits; the
// others as they are.
[[nodiscard]] std::string EscapeBytes(std::string_view text, std::string_view prefix, bool (*mustEscape)(unsigned char));
// Control characters (codes below 32, and 127) as \xNN: a name from a list or a server must not move
// a terminal's cursor, recolour it or break a line of the log.
[[nodiscard]] std::string EscapeControls(std::string_view text);

// The text, or its first shown characters and "... (N characters)" when it is longer: a hostile
// list may hold names of megabytes.
[[nodiscard]] std::string Shortened(std::string_view text, std::size_t shown);

// The items of a setting that holds values separated by spaces or tabs: runs of them are one gap,
// and neither end yields an empty item.
[[nodiscard]] std::vector<std::string> SplitOnSpaces(std::string_view text);

}  // namespace orvex
