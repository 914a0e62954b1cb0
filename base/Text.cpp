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
    if (SameTextAscii(text, "true")) return true;
    if (SameTextAscii(text, "false")) return false;
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

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string EscapeBytes(std::string_view text, std::string_view prefix, bool (*mustEscape)(unsigned char)) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (mustEscape(byte)) {
            escaped += prefix;
            escaped += Digits[byte >> 4];
            escaped += Digits[byte & 0xF];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string EscapeControls(std::string_view text) {
    return EscapeBytes(text, "\\x", [](unsigned char byte) { return byte < 0x20 || byte == 0x7F; });
}

std::string Shortened(std::string_view text, std::size_t shown) {
    if (text.size() <= shown) return std::string(text);
    return std::string(text.substr(0, shown)) + "... (" + std::to_string(text.size()) + " characters)";
}

std::vector<std::string> SplitOnSpaces(std::string_view text) {
    constexpr std::string_view Gap = " \t";
    std::vector<std::string> items;
    for (std::size_t start = text.find_first_not_of(Gap); start != std::string_view::npos;
         start = text.find_first_not_of(Gap, start)) {
        const std::size_t end = std::min(text.find_first_of(Gap, start), text.size());
        items.emplace_back(text.substr(start, end - start));
        start = end;
    }
    return items;
}

}  // namespace orvex
