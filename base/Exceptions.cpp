#include "base/Exceptions.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace orvex {

EInOutError::EInOutError(int errorCode, const std::string& what) : Exception(what), ErrorCode(errorCode) {}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
        result.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    va_end(args);
    return result;
}

void RaiseInOutError(int errorCode) { throw EInOutError(errorCode, Format(SInOutError, errorCode)); }

}  // namespace orvex
