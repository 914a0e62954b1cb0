#include "update/Download.h"
#include "update/HttpBody.h"
#include "update/TransferWatch.h"
#include "update/WinInet_win.h"
#include "util/WorkerPool.h"

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace orvex::http {
namespace {

// Bodies never land in the user's Internet cache, and every fetch asks the server again. Redirects
// are followed here, so that a loop ends after the limit.
constexpr DWORD RequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                               INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;

constexpr auto WaitTick = std::chrono::milliseconds(100);
// A fast transfer wakes the caller once per this many bytes, a slow one once per read: waking a
// thread costs more than a read under Wine. The caller looks at each WaitTick all the same.
constexpr std::size_t WakeBytes = 16 * 1024;
constexpr auto WakeEvery = std::chrono::milliseconds(20);
constexpr std::size_t CappedReadBytes = 16 * 1024;

// The process's one Internet session: WinINet keeps its connections open between requests, so
// that many small requests to one server (a file's chunks) do not each connect anew. Transfers
// end by closing their request handles; the session stays.
HINTERNET Session() {
    static const struct Holder {
        HINTERNET Handle = ::InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        ~Holder() {
            if (Handle) ::InternetCloseHandle(Handle);
        }
    } session;
    return session.Handle;
}

// One transfer, shared by the caller and the worker thread that makes the blocking WinINet calls.
// When the watch gives up, the caller closes the handles and goes: on Windows that unblocks the
// worker; Wine's WinINet only invalidates them and leaves a blocked call waiting for the server,
// so the worker may outlive the caller and finds the transfer abandoned when it wakes.
struct Shared {
    explicit Shared(const TTransferLimits& limits) : Watch(limits, TTransferWatch::Clock::now()) {}
    ~Shared() { CloseHandles(); }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    std::mutex Mutex;
    std::condition_variable Changed;
    TTransferWatch Watch;
    HINTERNET Request = nullptr;
    bool Abandoned = false;
    bool Opened = false;
    int Status = 0;
    bool Continues = false;
    std::string Validator;
    std::optional<std::chrono::seconds> RetryAfter;
    DWORD Error = 0;  // of the call that failed
    bool Failed = false;
    bool Ended = false;
    std::optional<DWORD> Expected;
    // The reads the caller has not taken yet: their bytes one after another and each one's count
    // (0 for the end of the body). The caller takes them all at each wake, so a fast transfer does
    // not cost two thread switches per read; the worker waits while too much is waiting.
    std::vector<unsigned char> Pending;
    std::vector<DWORD> Reads;
    static constexpr std::size_t MostPending = 256 * 1024;

    // Under Mutex: the handle goes once, by whichever thread gets here first.
    void CloseHandles() {
        if (Request) ::InternetCloseHandle(Request);
        Request = nullptr;
    }
};

// The worker's side: opens, follows redirects, reads. Every step first checks that the caller is
// still there.
class Worker {
public:
    Worker(std::shared_ptr<Shared> shared, std::string url, const TTransferLimits& limits,
           const std::optional<TRange>& range)
        : FShared(std::move(shared)), FUrl(std::move(url)), FLimits(limits), FRange(range) {
        if (FRange) {
            FHeaders = "Range: bytes=" + std::to_string(FRange->From) + "-\r\n";
            if (!FRange->Validator.empty()) FHeaders += "If-Range: " + FRange->Validator + "\r\n";
        }
    }

    void Run() {
        const bool opened = Open();
        std::unique_lock<std::mutex> lock(FShared->Mutex);
        if (!opened) {
            FShared->Error = FError;
            FShared->Failed = true;
            Finish(lock);
            return;
        }
        lock.unlock();
        Read();
    }

private:
    // Under the lock; wakes the caller and closes what the caller did not close already.
    void Finish(std::unique_lock<std::mutex>&) {
        FShared->CloseHandles();
        FShared->Changed.notify_all();
    }

    bool NotHttp() {
        FError = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return false;
    }

    bool Open() {
        HINTERNET root = Session();
        if (!root) {
            FError = ::GetLastError();
            return false;
        }
        // Where Windows honours them, the system's own timeouts end waits sooner.
        SetTimeout(root, INTERNET_OPTION_CONNECT_TIMEOUT, Limits().Answer);
        SetTimeout(root, INTERNET_OPTION_SEND_TIMEOUT, Limits().Answer);
        SetTimeout(root, INTERNET_OPTION_RECEIVE_TIMEOUT, Limits().Stall);
        std::string address = FUrl;
        for (;;) {
            // WinINet would also follow an address to ftp:// or gopher://.
            if (!IsHttpAddress(address)) return NotHttp();
            HINTERNET request = ::InternetOpenUrlA(root, address.c_str(), FHeaders.empty() ? nullptr : FHeaders.c_str(),
                                                   static_cast<DWORD>(FHeaders.size()), RequestFlags, 0);
            if (!request) FError = ::GetLastError();
            {
                const std::lock_guard<std::mutex> lock(FShared->Mutex);
                if (!request) return false;
                if (FShared->Abandoned) {
                    ::InternetCloseHandle(request);
                    return false;
                }
                FShared->Request = request;
            }
            // The fetched body stays out of the cache even where the flags are not honoured.
            static_cast<void>(::DeleteUrlCacheEntryA(address.c_str()));
            const std::optional<DWORD> status = NumberHeader(request, HTTP_QUERY_STATUS_CODE);
            const std::optional<std::string> location = Header(request, HTTP_QUERY_LOCATION);
            if (!status || !IsRedirect(*status) || !location) {
                // Wine honours this on a request: a blocked read then ends by itself after the stall.
                SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, Limits().Stall);
                const std::optional<std::string> retryAfter = Header(request, HTTP_QUERY_CUSTOM, "Retry-After");
                const std::string validator =
                    ChooseValidator(Header(request, HTTP_QUERY_ETAG).value_or(""), Header(request, HTTP_QUERY_LAST_MODIFIED).value_or(""));
                const std::string contentRange = Header(request, HTTP_QUERY_CONTENT_RANGE).value_or("");
                const std::lock_guard<std::mutex> lock(FShared->Mutex);
                FShared->Status = status ? static_cast<int>(*status) : 0;
                FShared->Validator = validator;
                FShared->Continues = FRange && ContinuesFrom(FShared->Status, contentRange, FRange->From);
                if (retryAfter) FShared->RetryAfter = RetryAfterValue(*retryAfter);
                FShared->Expected = NumberHeader(request, HTTP_QUERY_CONTENT_LENGTH);
                FShared->Watch.Answered(TTransferWatch::Clock::now());
                return true;
            }
            const std::optional<std::string> next = Resolve(address, *location);
            if (!next) return false;
            address = *next;
            const std::lock_guard<std::mutex> lock(FShared->Mutex);
            if (FShared->Abandoned) return false;
            ::InternetCloseHandle(FShared->Request);
            FShared->Request = nullptr;
            FShared->Watch.Redirected(TTransferWatch::Clock::now());
            // A loop ends here, at once, not at the caller's next look.
            if (FShared->Watch.Check(TTransferWatch::Clock::now()) != TransferVerdict::Going) return false;
        }
    }

    void Read() {
        HINTERNET request = nullptr;
        {
            std::unique_lock<std::mutex> lock(FShared->Mutex);
            FShared->Opened = true;
            request = FShared->Request;
            FShared->Changed.notify_all();
        }
        // Reads of 1024 bytes, each reported: the file bar moves by them. Under a cap each read is
        // taken from the budget, and reads are of up to 16 KiB (never more than a burst's worth):
        // with reads of 1 KiB a capped run under Wine on a busy machine fell below 10 MiB/s.
        TRateBudget* const budget = FLimits.Budget.get();
        std::vector<unsigned char> buffer(budget ? budget->Slice(CappedReadBytes) : 1024);
        for (;;) {
            DWORD count = 0;
            const bool read = ::InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &count);
            const DWORD error = ::GetLastError();
            if (budget && read) budget->Take(count);
            std::unique_lock<std::mutex> lock(FShared->Mutex);
            if (FShared->Abandoned) return;
            if (!read) {
                FShared->Error = error;
                FShared->Failed = true;
                Finish(lock);
                return;
            }
            FShared->Pending.insert(FShared->Pending.end(), buffer.begin(), buffer.begin() + count);
            FShared->Reads.push_back(count);
            if (count == 0 || FShared->Pending.size() >= WakeBytes || WakeTimeCame()) FShared->Changed.notify_all();
            if (count == 0) {
                FShared->Ended = true;
                Finish(lock);
                return;
            }
            FShared->Changed.wait(lock, [this] { return FShared->Pending.size() < Shared::MostPending || FShared->Abandoned; });
            if (FShared->Abandoned) return;
        }
    }

    const TTransferLimits& Limits() const { return FLimits; }

    // Whether WakeEvery has passed since it last said so.
    bool WakeTimeCame() {
        const auto now = std::chrono::steady_clock::now();
        if (now - FLastWake < WakeEvery) return false;
        FLastWake = now;
        return true;
    }

    std::shared_ptr<Shared> FShared;
    std::string FUrl;
    TTransferLimits FLimits;
    std::optional<TRange> FRange;
    std::string FHeaders;  // Range and If-Range, for each request of the redirects
    DWORD FError = 0;  // of the call that failed to open
    std::chrono::steady_clock::time_point FLastWake;  // of WakeTimeCame
};

// Threads for the blocking WinINet calls, kept for the next transfers: under Wine a new thread
// costs over a millisecond, and a run of many small requests (a file's chunks) that starts one per
// request slows down as thousands are made. A thread still blocked in an abandoned transfer is
// simply not idle; the next transfer then starts another. A thread idle for a minute ends.
// Never destroyed: the run's own thread may still start a transfer while the process exits, and a
// thread blocked in WinINet must not hold the exit up.
TWorkerPool& TransferThreads() {
    static TWorkerPool* const threads = new TWorkerPool(TWorkerPool::Unbounded, std::chrono::minutes(1));
    return *threads;
}

// The caller's side: leaving, on any way out, abandons the transfer.
class Abandoner {
public:
    explicit Abandoner(Shared& shared) : FShared(shared) {}
    ~Abandoner() {
        const std::lock_guard<std::mutex> lock(FShared.Mutex);
        if (FShared.Failed || FShared.Ended) return;
        FShared.Abandoned = true;
        FShared.CloseHandles();
        FShared.Changed.notify_all();
    }
    Abandoner(const Abandoner&) = delete;
    Abandoner& operator=(const Abandoner&) = delete;

private:
    Shared& FShared;
};

// Takes the worker's reads (lock held on entry and on return) and hands each on as it was made,
// without the lock; true when one of them ended the body. bytes and reads are the buffers the
// worker gets back, emptied, for its next reads.
bool HandOnReads(Shared& shared, std::unique_lock<std::mutex>& lock, uint64_t& received, IBodyReceiver& receiver,
                 std::vector<unsigned char>& bytes, std::vector<DWORD>& reads) {
    bytes.clear();
    reads.clear();
    bytes.swap(shared.Pending);
    reads.swap(shared.Reads);
    received += bytes.size();
    shared.Watch.Received(received, TTransferWatch::Clock::now());
    shared.Changed.notify_all();
    lock.unlock();
    bool ended = false;
    std::size_t at = 0;
    for (const DWORD count : reads) {
        receiver.BodyRead(bytes.data() + at, count);
        at += count;
        ended = ended || count == 0;
    }
    lock.lock();
    return ended;
}

}  // namespace

TFetchResult FetchBody(const std::string& url, const TTransferLimits& limits, IBodyReceiver& receiver,
                       const std::optional<TRange>& range) {
    auto shared = std::make_shared<Shared>(limits);
    auto worker = std::make_shared<Worker>(shared, url, limits, range);
    TransferThreads().Post([worker](std::stop_token) { worker->Run(); });
    const Abandoner abandoner(*shared);

    TFetchResult result;
    bool opened = false;
    uint64_t received = 0;
    std::vector<unsigned char> bytes;
    std::vector<DWORD> reads;
    std::unique_lock<std::mutex> lock(shared->Mutex);
    for (bool ended = false; !ended;) {
        shared->Changed.wait_for(lock, WaitTick, [&] {
            return !shared->Reads.empty() || shared->Failed || (!opened && shared->Opened);
        });
        result.Status = shared->Status;
        result.RetryAfter = shared->RetryAfter;
        result.Validator = shared->Validator;
        result.Watch = shared->Watch.Check(TTransferWatch::Clock::now());
        result.Idle = shared->Watch.Idle(TTransferWatch::Clock::now());
        if (result.Watch != TransferVerdict::Going) return result;
        if (!opened && shared->Opened) {
            opened = true;
            const bool continues = shared->Continues;
            lock.unlock();
            receiver.BodyOpened(result.Status, continues);
            lock.lock();
        }
        if (!shared->Reads.empty()) {
            ended = HandOnReads(*shared, lock, received, receiver, bytes, reads);
            continue;
        }
        if (shared->Failed) {
            result.Error = shared->Error ? ErrorText(shared->Error) : "the transfer broke";
            result.Transient = IsTransient(shared->Error);
            return result;
        }
    }
    // WinINet (Wine's at least) ends a body cut short by the server like a complete one: a
    // successful read of 0 bytes. The announced length tells them apart; a chunked body cut
    // short cannot be told apart at all through this API.
    if (shared->Expected && received != *shared->Expected) {
        result.Error = "the body ended after " + std::to_string(received) + " of " + std::to_string(*shared->Expected) + " bytes";
        result.Transient = true;
        return result;
    }
    result.Complete = true;
    return result;
}

}  // namespace orvex::http