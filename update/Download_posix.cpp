#include "update/Download.h"

#include "base/Os.h"
#include "base/Stream.h"

#include <curl/curl.h>

#include <cstring>
#include <exception>
#include <memory>
#include <optional>

namespace orvex {
namespace {

// libcurl's global state, set up before the first transfer of any thread and released at exit.
struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// The output file, created at the first byte of the body so that a URL which never answers leaves
// an existing file alone.
class Transfer {
public:
    Transfer(const std::string& fileName, const std::function<void(uint32_t)>& onRead)
        : FFileName(fileName), FOnRead(onRead) {}
    ~Transfer() {
        if (!FCommitted) Discard();
    }

    static size_t Write(char* data, size_t size, size_t count, void* self) {
        return static_cast<Transfer*>(self)->Store(data, size * count);
    }

    // Rethrows what the write callback caught; libcurl itself is C and must not see exceptions.
    void RaisePending() {
        if (FError) std::rethrow_exception(FError);
    }

    void Finish() {
        Open();
        FFile.reset();
        FOnRead(0);
        FCommitted = true;
    }

private:
    size_t Store(const char* data, size_t size) {
        try {
            Open();
            FFile->WriteBuffer(data, size);
            FOnRead(static_cast<uint32_t>(size));
            return size;
        } catch (...) {
            FError = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }

    void Open() {
        if (FCreated) return;
        FFile.emplace(FFileName, FileMode::Create);
        FCreated = true;
    }

    void Discard() {
        if (!FCreated) return;
        FFile.reset();
        os::DeleteFile(FFileName);
    }

    const std::string& FFileName;
    const std::function<void(uint32_t)>& FOnRead;
    std::optional<TFileStream> FFile;
    std::exception_ptr FError;
    bool FCreated = false;
    bool FCommitted = false;
};

// libcurl refuses addresses with spaces; WinINet escapes such bytes itself when it opens an
// address, so the list's paths (spaces, single-byte names) are escaped the same way here.
std::string EscapeUnsafeUrlBytes(const std::string& url) {
    static const char* const hex = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
            escaped += '%';
            escaped += hex[byte >> 4];
            escaped += hex[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

bool DownloadToFile(const std::string& url, const std::string& fileName,
                    const std::function<void(uint32_t bytesThisRead)>& onRead) {
    static CurlGlobal global;
    std::unique_ptr<CURL, CurlEasyDeleter> curl(curl_easy_init());
    if (!curl) return false;
    Transfer transfer(fileName, onRead);
    CURL* handle = curl.get();
    const std::string address = EscapeUnsafeUrlBytes(url);
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, UserAgent);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // called from the run's thread
    // A server that stops sending without closing would otherwise hold the run forever.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Transfer::Write);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    const CURLcode result = curl_easy_perform(handle);
    transfer.RaisePending();
    if (result != CURLE_OK) return false;  // the partial file, if any, goes with transfer
    transfer.Finish();
    return true;
}

}  // namespace orvex
