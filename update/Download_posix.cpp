#include "base/Text.h"
#include "update/Download.h"
#include "update/HttpBody.h"
#include "update/TransferWatch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace orvex::http {
namespace {

// libcurl's global state, set up before the first transfer of any thread and released at exit.
struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// Hands libcurl's writes to the receiver and what it hears of the transfer to the watch. libcurl
// tells of the final answer only through its first body bytes (a redirect's headers come before),
// so the body opens at the first read, or at the end of an empty body: a URL that never answers
// leaves the receiver unheard.
class Relay {
public:
    Relay(CURL* handle, IBodyReceiver& receiver, const TTransferLimits& limits, const std::optional<TRange>& range)
        : FHandle(handle), FReceiver(receiver), FWatch(limits, TTransferWatch::Clock::now()), FBudget(limits.Budget.get()),
          FRange(range) {}

    static size_t Write(char* data, size_t size, size_t count, void* self) {
        return static_cast<Relay*>(self)->Pass(data, size * count);
    }

    static size_t Header(char* data, size_t size, size_t count, void* self) {
        Relay& relay = *static_cast<Relay*>(self);
        relay.FWatch.Answered(TTransferWatch::Clock::now());
        relay.Heard(std::string(data, size * count));
        return size * count;
    }

    // The final answer's validator.
    std::string Validator() const { return ChooseValidator(FETag, FLastModified); }

    // Non-zero ends the transfer.
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        Relay& relay = *static_cast<Relay*>(self);
        relay.FVerdict = relay.FWatch.Check(TTransferWatch::Clock::now());
        return relay.FVerdict == TransferVerdict::Going ? 0 : 1;
    }

    TransferVerdict Verdict() const { return FVerdict; }
    std::chrono::milliseconds Idle() const { return FWatch.Idle(TTransferWatch::Clock::now()); }

    // Rethrows what the write callback caught; libcurl itself is C and must not see exceptions.
    void RaisePending() {
        if (FError) std::rethrow_exception(FError);
    }

    void End() {
        Open();
        FReceiver.BodyRead(nullptr, 0);
    }

private:
    size_t Pass(const char* data, size_t size) {
        try {
            if (FBudget) FBudget->Take(size);
            FReceived += size;
            FWatch.Received(FReceived, TTransferWatch::Clock::now());
            Open();
            FReceiver.BodyRead(data, size);
            return size;
        } catch (...) {
            FError = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }

    void Open() {
        if (FOpened) return;
        FOpened = true;
        long status = 0;
        curl_easy_getinfo(FHandle, CURLINFO_RESPONSE_CODE, &status);
        const bool continues = FRange && ContinuesFrom(static_cast<int>(status), FContentRange, FRange->From);
        FReceiver.BodyOpened(static_cast<int>(status), continues);
    }

    // One header line; a status line starts the headers of another answer (after a redirect).
    void Heard(std::string line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.compare(0, 5, "HTTP/") == 0) {
            FETag.clear();
            FLastModified.clear();
            FContentRange.clear();
            return;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) return;
        const std::string name = LowerAscii(line.substr(0, colon));
        const std::size_t start = line.find_first_not_of(' ', colon + 1);
        const std::string value = start == std::string::npos ? "" : line.substr(start);
        if (name == "etag") FETag = value;
        if (name == "last-modified") FLastModified = value;
        if (name == "content-range") FContentRange = value;
    }

    CURL* FHandle;
    IBodyReceiver& FReceiver;
    TTransferWatch FWatch;
    TRateBudget* FBudget;  // none: no cap
    uint64_t FReceived = 0;
    std::exception_ptr FError;
    bool FOpened = false;
    TransferVerdict FVerdict = TransferVerdict::Going;
    std::optional<TRange> FRange;
    std::string FETag, FLastModified, FContentRange;
};

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Failures of the connection, which another try a moment later may not meet.
bool IsTransient(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_PARTIAL_FILE:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_SSL_CONNECT_ERROR:
            return true;
        default:
            return false;
    }
}

// libcurl refuses addresses with spaces; WinINet escapes such bytes itself when it opens an
// address, so the list's paths (spaces, single-byte names) are escaped the same way here.
std::string EscapeUnsafeUrlBytes(const std::string& url) {
    return EscapeBytes(url, "%", [](unsigned char byte) {
        return byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}", byte) != nullptr;
    });
}

// One handle per thread, reset before each fetch: it keeps its connections open, so that many
// small requests to one server (a file's chunks) do not each connect anew.
CURL* ThreadHandle() {
    thread_local std::unique_ptr<CURL, CurlEasyDeleter> handle(curl_easy_init());
    if (handle) curl_easy_reset(handle.get());
    return handle.get();
}

}  // namespace

TFetchResult FetchBody(const std::string& url, const TTransferLimits& limits, IBodyReceiver& receiver,
                       const std::optional<TRange>& range) {
    static CurlGlobal global;
    TFetchResult result;
    CURL* handle = ThreadHandle();
    if (!handle) {
        result.Error = "libcurl cannot start";
        return result;
    }
    Relay relay(handle, receiver, limits, range);
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    const std::string from = range ? std::to_string(range->From) + "-" : "";
    if (range) {
        curl_easy_setopt(handle, CURLOPT_RANGE, from.c_str());
        if (!range->Validator.empty()) {
            headers.reset(curl_slist_append(nullptr, ("If-Range: " + range->Validator).c_str()));
            curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
        }
    }
    char errorText[CURL_ERROR_SIZE] = "";
    const std::string address = EscapeUnsafeUrlBytes(url);
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, UserAgent);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    // Updates come over HTTP alone: no redirect leads to ftp://, file:// or any other of libcurl's.
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(limits.MaxRedirects));
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // called from the run's thread
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.Answer.count()));
    // The watch decides when a slow, stalled or silent server is given up.
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Relay::Progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &relay);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Relay::Header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &relay);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Relay::Write);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &relay);
    // Under a cap each write is at most a burst's worth (libcurl takes no less than 1 KiB), so the
    // socket is read no faster than the budget pays for.
    if (limits.Budget)
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE,
                         static_cast<long>(std::max<std::size_t>(1024, limits.Budget->Slice(CURL_MAX_WRITE_SIZE))));
    const CURLcode code = curl_easy_perform(handle);
    relay.RaisePending();
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    result.Status = static_cast<int>(status);
    result.Validator = relay.Validator();
    result.Idle = relay.Idle();
    curl_off_t retryAfter = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK && retryAfter > 0)
        result.RetryAfter = std::chrono::seconds(retryAfter);
    if (code == CURLE_TOO_MANY_REDIRECTS) {
        result.Watch = TransferVerdict::TooManyRedirects;
    } else if (code != CURLE_OK) {
        result.Watch = relay.Verdict();
        result.Error = *errorText ? errorText : curl_easy_strerror(code);
        result.Transient = IsTransient(code);
    } else {
        relay.End();
        result.Complete = true;
    }
    return result;
}

}  // namespace orvex::http
