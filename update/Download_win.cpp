#include "update/Download.h"

#include "base/Os.h"
#include "base/Stream.h"

#include <windows.h>
#include <wininet.h>
#undef DeleteFile  // os::DeleteFile, not DeleteFileA

#include <optional>

namespace orvex {
namespace {

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : FHandle(handle) {}
    ~InternetHandle() { ::InternetCloseHandle(FHandle); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET Get() const { return FHandle; }

private:
    HINTERNET FHandle;
};

// The output file, removed again unless the body arrived complete.
class OutputFile {
public:
    explicit OutputFile(const std::string& fileName) : FFileName(fileName) { FFile.emplace(fileName, FileMode::Create); }
    ~OutputFile() {
        if (!FFile) return;
        FFile.reset();
        if (!FCommitted) os::DeleteFile(FFileName);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const void* data, std::size_t count) { FFile->WriteBuffer(data, count); }
    void Commit() {
        FFile.reset();
        FCommitted = true;
    }

private:
    const std::string& FFileName;
    std::optional<TFileStream> FFile;
    bool FCommitted = false;
};

// The announced body length, when the server sent one.
std::optional<DWORD> ContentLength(HINTERNET request) {
    DWORD length = 0;
    DWORD size = sizeof length;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
        return std::nullopt;
    return length;
}

}  // namespace

bool DownloadToFile(const std::string& url, const std::string& fileName,
                    const std::function<void(uint32_t bytesThisRead)>& onRead) {
    const InternetHandle root(::InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const HINTERNET opened = ::InternetOpenUrlA(root.Get(), url.c_str(), nullptr, 0, 0, 0);
    if (!opened) return false;
    const InternetHandle request(opened);
    ::DeleteUrlCacheEntryA(url.c_str());

    OutputFile file(fileName);
    const std::optional<DWORD> expected = ContentLength(request.Get());
    unsigned char buffer[1024];
    uint64_t received = 0;
    for (;;) {
        DWORD count = 0;
        if (!::InternetReadFile(request.Get(), buffer, sizeof buffer, &count)) return false;
        file.Write(buffer, count);
        received += count;
        onRead(count);
        if (count == 0) break;
    }
    // WinINet (Wine's at least) ends a body cut short by the server like a complete one: a
    // successful read of 0 bytes. The announced length tells them apart; a chunked body cut
    // short cannot be told apart at all through this API.
    if (expected && received != *expected) return false;
    file.Commit();
    return true;
}

}  // namespace orvex
