#include "base/Text.h"

#include "base/Exceptions.h"

#include <algorithm>
#include <cctype>

namespace orvex {

namespace {

bool IsBlank(unsigned char c) { return c <= 32; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool TryStrToInt(std::string_view text, int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return false;

    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = hex ? HexValue(text[i]) : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
        if (digit < 0) return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    if (hex) {
        // Hexadecimal covers the whole 32-bit pattern: behaviour inherited from the UI framework's
        // number conversion.
        const auto bits = static_cast<uint32_t>(magnitude);
        const auto signedBits = static_cast<int32_t>(bits);
        value = negative ? static_cast<int32_t>(0u - bits) : signedBits;
        return true;
    }
    if (negative) {
        if (magnitude > 2147483648ull) return false;
        value = static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    } else {
        if (magnitude > 2147483647ull) return false;
        value = static_cast<int32_t>(magnitude);
    }
    return true;
}

int32_t StrToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) throw EConvertError(Format(SInvalidInteger, std::string(text).c_str()));
    return value;
}

int32_t StrToIntDef(std::string_view text, int32_t defaultValue) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

bool StrToBool(std::string_view text) {
    auto equalsNoCase = [&](std::string_view word) {
        if (text.size() != word.size()) return false;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
        return true;
    };
    if (equalsNoCase("true")) return true;
    if (equalsNoCase("false")) return false;
    int32_t number = 0;
    if (TryStrToInt(text, number)) return number != 0;
    throw EConvertError(Format(SInvalidBoolean, std::string(text).c_str()));
}

std::string Trim(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && IsBlank(static_cast<unsigned char>(text[last - 1]))) --last;
    return std::string(text.substr(first, last - first));
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::vector<std::string> SplitOnSpaces(std::string_view text) {
    std::vector<std::string> items;
    constexpr std::string_view Blanks = " \t";
    for (std::size_t start = text.find_first_not_of(Blanks); start != std::string_view::npos;) {
        const std::size_t end = std::min(text.find_first_of(Blanks, start), text.size());
        items.emplace_back(text.substr(start, end - start));
        start = text.find_first_not_of(Blanks, end);
    }
    return items;
}

}  // namespace orvex
