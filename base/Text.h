#pragma once
// Text helpers that keep the rules inherited from the UI framework the launcher's behaviour comes
// from: whole-number conversion, booleans, trimming.
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

// The items of a value separated by spaces or tabs (Mirrors, UpdateKey); no empty items.
std::vector<std::string> SplitOnSpaces(std::string_view text);

}  // namespace orvex
