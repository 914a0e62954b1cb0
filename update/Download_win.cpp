#include "update/Download.h"
#include "update/HttpBody.h"
#include "update/TransferWatch.h"

#include <windows.h>
#include <wininet.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

namespace orvex::http {
namespace {

// Bodies never land in the user's Internet cache, and every fetch asks the server again. Redirects
// are followed here, so that a loop ends after the limit.
constexpr DWORD RequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                               INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;

constexpr auto WatchdogTick = std::chrono::milliseconds(100);

std::optional<DWORD> NumberHeader(HINTERNET request, DWORD query) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!::HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr)) return std::nullopt;
    return value;
}

std::optional<std::string> Location(HINTERNET request) {
    char text[4096];
    DWORD size = sizeof text;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_LOCATION, text, &size, nullptr)) return std::nullopt;
    return std::string(text, size);
}

bool IsRedirect(DWORD status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// location taken relative to the address that answered with it.
std::optional<std::string> Resolve(const std::string& base, const std::string& location) {
    char combined[4096];
    DWORD size = sizeof combined;
    if (!::InternetCombineUrlA(base.c_str(), location.c_str(), combined, &size, ICU_NO_ENCODE)) return std::nullopt;
    return std::string(combined, size);
}

void SetTimeout(HINTERNET handle, DWORD option, std::chrono::milliseconds limit) {
    DWORD value = static_cast<DWORD>(limit.count());
    // Without it the watchdog still ends the transfer.
    static_cast<void>(::InternetSetOptionA(handle, option, &value, sizeof value));
}

// One transfer's handles and the watchdog over them. WinINet has no option for a slow body, and a
// call blocked on the network returns once its handles are closed: the watchdog thread closes them
// when the watch gives up, and every call made here afterwards fails.
class Transfer {
public:
    explicit Transfer(const TTransferLimits& limits)
        : FWatch(limits, TTransferWatch::Clock::now()),
          FRoot(::InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)) {
        if (!FRoot) return;
        // Where Wine or Windows honour them, the system's own timeouts end waits sooner.
        SetTimeout(FRoot, INTERNET_OPTION_CONNECT_TIMEOUT, limits.Answer);
        SetTimeout(FRoot, INTERNET_OPTION_SEND_TIMEOUT, limits.Answer);
        SetTimeout(FRoot, INTERNET_OPTION_RECEIVE_TIMEOUT, limits.Stall);
        FWatchdog = std::thread([this] { Watch(); });
    }
    ~Transfer() {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FEnded = true;
        }
        FWake.notify_all();
        if (FWatchdog.joinable()) FWatchdog.join();
        CloseAll();
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // The request whose answer is not a redirect, following up to the limit; null when none came.
    HINTERNET Open(const std::string& url) {
        std::string address = url;
        for (;;) {
            HINTERNET request = ::InternetOpenUrlA(Root(), address.c_str(), nullptr, 0, RequestFlags, 0);
            if (!Keep(request)) return nullptr;
            // The fetched body stays out of the cache even where the flags are not honoured.
            static_cast<void>(::DeleteUrlCacheEntryA(address.c_str()));
            const std::optional<DWORD> status = NumberHeader(request, HTTP_QUERY_STATUS_CODE);
            const std::optional<std::string> location = Location(request);
            if (!status || !IsRedirect(*status) || !location) {
                Update([](TTransferWatch& watch, auto now) { watch.Answered(now); });
                return request;
            }
            const std::optional<std::string> next = Resolve(address, *location);
            if (!next) return nullptr;
            address = *next;
            CloseRequest();
            if (!Update([](TTransferWatch& watch, auto now) { watch.Redirected(now); })) return nullptr;
        }
    }

    // One read of the body; false when it failed or the watch gave up.
    bool Read(HINTERNET request, void* buffer, DWORD size, DWORD& count, uint64_t totalBefore) {
        count = 0;
        if (!::InternetReadFile(request, buffer, size, &count)) return false;
        return Update([total = totalBefore + count](TTransferWatch& watch, auto now) { watch.Received(total, now); });
    }

private:
    HINTERNET Root() {
        const std::lock_guard<std::mutex> lock(FMutex);
        return FGaveUp ? nullptr : FRoot;
    }

    // Takes over request; false (request closed) when it failed or the watchdog gave up meanwhile.
    bool Keep(HINTERNET request) {
        if (!request) return false;
        const std::lock_guard<std::mutex> lock(FMutex);
        if (FGaveUp) {
            ::InternetCloseHandle(request);
            return false;
        }
        FRequest = request;
        return true;
    }

    void CloseRequest() {
        const std::lock_guard<std::mutex> lock(FMutex);
        if (FRequest) ::InternetCloseHandle(FRequest);
        FRequest = nullptr;
    }

    // Tells the watch; false once it gave up.
    template <class Change>
    bool Update(Change change) {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            if (!FGaveUp) {
                change(FWatch, TTransferWatch::Clock::now());
                if (FWatch.Check(TTransferWatch::Clock::now()) == TransferVerdict::Going) return true;
            }
        }
        CloseAll();
        return false;
    }

    void Watch() {
        std::unique_lock<std::mutex> lock(FMutex);
        while (!FEnded) {
            FWake.wait_for(lock, WatchdogTick);
            if (FEnded || FGaveUp) continue;
            if (FWatch.Check(TTransferWatch::Clock::now()) == TransferVerdict::Going) continue;
            lock.unlock();
            CloseAll();
            lock.lock();
        }
    }

    // The request first, then the root, which also ends a connection still being opened.
    void CloseAll() {
        const std::lock_guard<std::mutex> lock(FMutex);
        FGaveUp = true;
        if (FRequest) ::InternetCloseHandle(FRequest);
        if (FRoot) ::InternetCloseHandle(FRoot);
        FRequest = nullptr;
        FRoot = nullptr;
    }

    std::mutex FMutex;
    std::condition_variable FWake;
    TTransferWatch FWatch;
    HINTERNET FRoot = nullptr;
    HINTERNET FRequest = nullptr;
    bool FGaveUp = false;
    bool FEnded = false;
    std::thread FWatchdog;
};

}  // namespace

bool FetchBody(const std::string& url, const TTransferLimits& limits, IBodyReceiver& receiver) {
    Transfer transfer(limits);
    const HINTERNET request = transfer.Open(url);
    if (!request) return false;

    receiver.BodyOpened();
    const std::optional<DWORD> expected = NumberHeader(request, HTTP_QUERY_CONTENT_LENGTH);
    unsigned char buffer[1024];
    uint64_t received = 0;
    for (;;) {
        DWORD count = 0;
        if (!transfer.Read(request, buffer, sizeof buffer, count, received)) return false;
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
