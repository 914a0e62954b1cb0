#include "update/WinInet_win.h"

#include "update/HttpBody.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace orvex::http {

std::optional<DWORD> NumberHeader(HINTERNET request, DWORD query) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!::HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr)) return std::nullopt;
    return value;
}

std::optional<std::string> Header(HINTERNET request, DWORD query, const char* custom) {
    // A custom header's name goes in the buffer the answer comes back in.
    char text[4096] = "";
    if (custom) std::string_view(custom).copy(text, sizeof text - 1);
    DWORD size = sizeof text;
    if (!::HttpQueryInfoA(request, query, text, &size, nullptr)) return std::nullopt;
    return std::string(text, size);
}

bool IsTransient(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_TIMEOUT:
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_FORCE_RETRY:
        case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        // A read may end with the socket's own error (Wine's WinINet passes them through).
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAETIMEDOUT:
        case WSAECONNREFUSED:
        case WSAENETDOWN:
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            return true;
        default:
            return false;
    }
}

namespace {

// The failures a player meets most, in words of our own: wininet.dll holds no texts under Wine,
// and Windows' own are written for programmers.
const char* KnownErrorWords(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_TIMEOUT: return "the server did not answer in time";
        case ERROR_INTERNET_INVALID_URL: return "the address is not a valid URL";
        case ERROR_INTERNET_NAME_NOT_RESOLVED: return "the server's name could not be resolved";
        case ERROR_INTERNET_CANNOT_CONNECT: return "cannot connect to the server";
        case ERROR_INTERNET_CONNECTION_ABORTED: return "the connection to the server was aborted";
        case ERROR_INTERNET_CONNECTION_RESET: return "the connection to the server was reset";
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return "the server's certificate has expired or is not yet valid";
        case ERROR_INTERNET_SEC_CERT_CN_INVALID: return "the server's certificate is for another name";
        case ERROR_INTERNET_INVALID_CA: return "the server's certificate is not from a trusted authority";
        case ERROR_HTTP_INVALID_SERVER_RESPONSE: return "the server's answer could not be read";
        case WSAECONNRESET: return "the connection to the server was reset";
        case WSAECONNABORTED: return "the connection to the server was aborted";
        case WSAETIMEDOUT: return "the server did not answer in time";
        case WSAECONNREFUSED: return "the server refused the connection";
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH: return "the server cannot be reached from this network";
        default: return nullptr;
    }
}

// WinINet's errors have their texts in wininet.dll, the others in the system.
std::string SystemWords(DWORD error) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        ::GetModuleHandleA("wininet.dll"), error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

}  // namespace

std::string ErrorText(DWORD error) {
    const char* known = KnownErrorWords(error);
    const std::string words = known ? known : SystemWords(error);
    const std::string number = "error " + std::to_string(error);
    return words.empty() ? number : words + " (" + number + ")";
}

std::optional<std::chrono::seconds> RetryAfterValue(const std::string& value) {
    if (const auto seconds = ParseRetryAfter(value)) return seconds;
    SYSTEMTIME then{};
    if (!::InternetTimeToSystemTimeA(value.c_str(), &then, 0)) return std::nullopt;
    FILETIME thenFile{}, nowFile{};
    if (!::SystemTimeToFileTime(&then, &thenFile)) return std::nullopt;
    ::GetSystemTimeAsFileTime(&nowFile);
    const auto ticks = [](const FILETIME& time) {
        return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    const int64_t ahead = ticks(thenFile) - ticks(nowFile);  // in 100 ns
    return std::chrono::seconds(ahead > 0 ? ahead / 10'000'000 : 0);
}

bool IsRedirect(DWORD status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

bool IsHttpAddress(const std::string& address) {
    const auto startsWith = [&address](const char* scheme) { return _strnicmp(address.c_str(), scheme, std::strlen(scheme)) == 0; };
    return startsWith("http://") || startsWith("https://");
}

std::optional<std::string> Resolve(const std::string& base, const std::string& location) {
    char combined[4096];
    DWORD size = sizeof combined;
    if (!::InternetCombineUrlA(base.c_str(), location.c_str(), combined, &size, ICU_NO_ENCODE)) return std::nullopt;
    return std::string(combined, size);
}

void SetTimeout(HINTERNET handle, DWORD option, std::chrono::milliseconds limit) {
    DWORD value = static_cast<DWORD>(limit.count());
    // Without it the watch still ends the transfer.
    static_cast<void>(::InternetSetOptionA(handle, option, &value, sizeof value));
}

}  // namespace orvex::http
