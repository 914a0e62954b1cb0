#include "base/Exceptions.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstddef>

namespace orvex {

EInOutError::EInOutError(int errorCode, const std::string& what) : Exception(what), ErrorCode(errorCode) {}

namespace {

// digits of value in base, at least minDigits of them (C's precision: none for 0 with 0).
std::string Digits(unsigned long long value, int base, bool upper, int minDigits) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, base).ptr;
    std::string digits(buffer, end);
    if (upper) std::transform(digits.begin(), digits.end(), digits.begin(), [](char c) { return c >= 'a' ? c - 32 : c; });
    if (minDigits == 0 && value == 0) return "";
    if (minDigits > 0 && digits.size() < static_cast<std::size_t>(minDigits)) digits.insert(0, minDigits - digits.size(), '0');
    return digits;
}

struct TConversion {
    bool Left = false, Zero = false;
    int Width = 0, Precision = -1, Longs = 0;
    bool Size = false;
};

int Number(const char*& p) {
    int n = 0;
    while (*p >= '0' && *p <= '9') n = n * 10 + (*p++ - '0');
    return n;
}

long long SignedArg(const TConversion& conversion, va_list& args) {
    if (conversion.Size) return static_cast<long long>(va_arg(args, std::ptrdiff_t));
    if (conversion.Longs >= 2) return va_arg(args, long long);
    return conversion.Longs == 1 ? va_arg(args, long) : va_arg(args, int);
}

unsigned long long UnsignedArg(const TConversion& conversion, va_list& args) {
    if (conversion.Size) return va_arg(args, std::size_t);
    if (conversion.Longs >= 2) return va_arg(args, unsigned long long);
    return conversion.Longs == 1 ? va_arg(args, unsigned long) : va_arg(args, unsigned);
}

// One conversion at p (just after its "%"), appended to out; p is left on its last character.
void Convert(std::string& out, const char*& p, va_list& args) {
    const char* const start = p;
    TConversion conversion;
    for (;; ++p) {
        if (*p == '-') conversion.Left = true;
        else if (*p == '0') conversion.Zero = true;
        else break;
    }
    conversion.Width = Number(p);
    if (*p == '.') conversion.Precision = Number(++p);
    for (; *p == 'l'; ++p) ++conversion.Longs;
    if (*p == 'z') {
        conversion.Size = true;
        ++p;
    }
    std::string sign, field;
    switch (*p) {
        case 'd':
        case 'i': {
            const long long value = SignedArg(conversion, args);
            if (value < 0) sign = "-";
            field = Digits(value < 0 ? 0ULL - static_cast<unsigned long long>(value) : value, 10, false, conversion.Precision);
            break;
        }
        case 'u': field = Digits(UnsignedArg(conversion, args), 10, false, conversion.Precision); break;
        case 'x':
        case 'X': field = Digits(UnsignedArg(conversion, args), 16, *p == 'X', conversion.Precision); break;
        case 'c': field = std::string(1, static_cast<char>(va_arg(args, int))); break;
        case 's': {
            const char* text = va_arg(args, const char*);
            field = text ? text : "(null)";
            if (conversion.Precision >= 0 && field.size() > static_cast<std::size_t>(conversion.Precision)) field.resize(conversion.Precision);
            break;
        }
        case '%': out += '%'; return;
        default:
            out += '%';  // not a conversion the program uses: the text stays as it is
            p = start - 1;
            return;
    }
    const std::size_t length = sign.size() + field.size();
    const std::size_t pad = conversion.Width > 0 && length < static_cast<std::size_t>(conversion.Width) ? conversion.Width - length : 0;
    const bool zeros = conversion.Zero && !conversion.Left && conversion.Precision < 0 && *p != 's' && *p != 'c';
    if (!conversion.Left && !zeros) out.append(pad, ' ');
    out += sign;
    if (zeros) out.append(pad, '0');
    out += field;
    if (conversion.Left) out.append(pad, ' ');
}

}  // namespace

// The program's own printf: on Windows the C library's brings in floating-point formatting that
// no text of the program uses, a sizeable part of the launcher.
std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string out;
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%') {
            out += *p;
        } else if (p[1] == '\0') {
            out += '%';
        } else {
            Convert(out, ++p, args);
        }
    }
    va_end(args);
    return out;
}

void RaiseInOutError(int errorCode) { throw EInOutError(errorCode, Format(SInOutError, errorCode)); }

void RaiseInOutError(int errorCode, const std::string& path) {
    throw EInOutError(errorCode, Format(SInOutErrorAt, errorCode, path.c_str()));
}

}  // namespace orvex
