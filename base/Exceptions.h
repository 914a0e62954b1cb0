#pragma once
// The exception classes of the program, with the messages the player sees.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orvex {

// Root of every error the program raises itself.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Text that is not a whole number or a boolean.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file or OS call failed; carries the operating system's error code.
class EInOutError : public Exception {
public:
    EInOutError(int errorCode, const std::string& what);
    int ErrorCode;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A refused write of a profile (INI) key.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// A list read past its end, e.g. an update-list entry with too few fields.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// An operation a control refuses in its current state, e.g. a range that does not fit.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// printf-style formatting of the messages below.
std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The messages, as the player reads them.
inline constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char* SInvalidBoolean = "'%s' is not a valid boolean value";
inline constexpr const char* SIniFileWriteError = "Unable to write to %s";
inline constexpr const char* SInvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* SInOutError = "I/O error %d";
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SFCreateError = "Cannot create file \"%s\". %s";
inline constexpr const char* SFOpenError = "Cannot open file \"%s\". %s";
inline constexpr const char* SListIndexError = "List index out of bounds (%d)";
inline constexpr const char* SOutOfRange = "Value must be between %d and %d";

inline constexpr const char* SInOutErrorAt = "I/O error %d at \"%s\"";

// Raises EInOutError for the given OS error code, e.g. "I/O error 5".
[[noreturn]] void RaiseInOutError(int errorCode);
// The same, naming the file or folder: "I/O error 5 at "C:\Games\data"".
[[noreturn]] void RaiseInOutError(int errorCode, const std::string& path);

// Bounds-checked access to a list of fields, raising EListError: behaviour inherited from the string
// lists of the UI framework the launcher's rules come from.
template <typename List>
const auto& ListAt(const List& list, std::size_t index) {
    if (index >= list.size())
        throw EListError(Format(SListIndexError, static_cast<int>(index)));
    return list[index];
}

}  // namespace orvex
