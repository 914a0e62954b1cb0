#pragma once
// What the WinINet transfers read off an answer and its errors: headers, which failures pass,
// errors in words, Retry-After, redirects.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <optional>
#include <string>

namespace orvex::http {

std::optional<DWORD> NumberHeader(HINTERNET request, DWORD query);
// An answer header as sent; nothing when there is none. custom names a header that has no
// HTTP_QUERY_ constant (query is then HTTP_QUERY_CUSTOM).
std::optional<std::string> Header(HINTERNET request, DWORD query, const char* custom = nullptr);
// Failures of the connection, which another try a moment later may not meet.
bool IsTransient(DWORD error);
// "cannot connect to the server (error 12029)": the common failures in words of our own, the others
// in the system's, the number always.
std::string ErrorText(DWORD error);
// Retry-After as seconds or as an HTTP date, the time from now until then (0 when it is past).
std::optional<std::chrono::seconds> RetryAfterValue(const std::string& value);
bool IsRedirect(DWORD status);
// Whether address is an http:// or https:// one, the only kinds an update comes from.
bool IsHttpAddress(const std::string& address);
// location taken relative to the address that answered with it.
std::optional<std::string> Resolve(const std::string& base, const std::string& location);
// Sets a WinINet time limit; without it the transfer's watch still ends the transfer.
void SetTimeout(HINTERNET handle, DWORD option, std::chrono::milliseconds limit);

}  // namespace orvex::http
