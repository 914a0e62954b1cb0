#include "update/Download.h"
#include "update/HttpBody.h"

#include "base/Win32_win.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>

namespace orvex::http {
namespace {

// A WinINet handle, closed with the object; empty when the call that made it failed.
using InternetHandle = win32::TOwnedHandle<HINTERNET, ::InternetCloseHandle>;

// The announced body length, when the server sent one.
std::optional<DWORD> ContentLength(HINTERNET request) {
    DWORD length = 0;
    DWORD size = sizeof length;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
        return std::nullopt;
    return length;
}

}  // namespace

bool FetchBody(const std::string& url, IBodyReceiver& receiver) {
    const InternetHandle root(::InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const InternetHandle request(::InternetOpenUrlA(root.Get(), url.c_str(), nullptr, 0, 0, 0));
    if (!request.Valid()) return false;
    // The copy just fetched stays out of the cache, so the next fetch asks the server again; when
    // there is no entry to remove, there is nothing to keep out either.
    static_cast<void>(::DeleteUrlCacheEntryA(url.c_str()));

    receiver.BodyOpened();
    const std::optional<DWORD> expected = ContentLength(request.Get());
    unsigned char buffer[1024];
    uint64_t received = 0;
    for (;;) {
        DWORD count = 0;
        if (!::InternetReadFile(request.Get(), buffer, sizeof buffer, &count)) return false;
        receiver.BodyRead(buffer, count);
        received += count;
        if (count == 0) break;
    }
    // WinINet (Wine's at least) ends a body cut short by the server like a complete one: a
    // successful read of 0 bytes. The announced length tells them apart; a chunked body cut
    // short cannot be told apart at all through this API.
    return !expected || received == *expected;
}

}  // namespace orvex::http
