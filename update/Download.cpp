#include "update/Download.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "base/TempFile.h"
#include "update/HttpBody.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace orvex {
namespace {

// The body goes into a file beside fileName that takes its place once the body is complete. When
// the URL answered but the body did not arrive, the previous file goes too: no file then means no
// download, and nothing stale is taken for the new body.
class BodyFile final : public http::IBodyReceiver {
public:
    // Thrown through the HTTP client to end the transfer at the read that passes the limit.
    struct TooLong {};
    // An error page is read to its end (a short one lets the connection finish cleanly) but not
    // kept, and not beyond this.
    static constexpr uint64_t MaxErrorBody = 64 * 1024;

    BodyFile(const std::string& fileName, uint64_t maxBytes, const std::function<void(uint32_t)>& onRead)
        : FFileName(fileName), FMaxBytes(maxBytes), FOnRead(onRead) {}
    ~BodyFile() override {
        if (!FCreated || FCommitted) return;
        FStream.reset();
        FTemp.reset();
        // Missing already, or held by someone else: either way there is nothing more to do.
        static_cast<void>(os::DeleteFile(FFileName));
    }
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    void BodyOpened(int status, bool) override {
        FStatus = status;
        if (status < 200 || status > 299) {
            FRefused = true;
            FCreated = true;  // the previous file goes, as for a body that did not arrive
            return;
        }
        FTemp.emplace(FFileName);
        try {
            FStream.emplace(FTemp->Name(), FileMode::Create);
        } catch (const EFCreateError& error) {
            throw EFCreateError(NamingTarget(error.what()));
        }
        FCreated = true;
    }

    void BodyRead(const void* data, std::size_t count) override {
        FReceived += count;
        if (FReceived > (FRefused ? std::min(FMaxBytes, MaxErrorBody) : FMaxBytes)) throw TooLong{};
        if (FRefused) return;
        FStream->WriteBuffer(data, count);
        FOnRead(static_cast<uint32_t>(count));
    }

    bool IsRefused() const { return FRefused; }
    int Status() const { return FStatus; }

    void Commit() {
        FStream.reset();
        FTemp->CommitOrRaise();
        FCommitted = true;
    }

private:
    // A refusal to create names the file the caller asked for, not the temporary one.
    std::string NamingTarget(const std::string& message) const {
        const std::string prefix = Format(SFCreateError, FTemp->Name().c_str(), "");
        if (message.compare(0, prefix.size(), prefix) != 0) return message;
        return Format(SFCreateError, FFileName.c_str(), message.c_str() + prefix.size());
    }

    const std::string& FFileName;
    uint64_t FMaxBytes;
    uint64_t FReceived = 0;
    const std::function<void(uint32_t)>& FOnRead;
    std::optional<TTempFile> FTemp;
    std::optional<TFileStream> FStream;  // after FTemp: closed before the file is removed
    bool FCreated = false;
    bool FCommitted = false;
    bool FRefused = false;
    int FStatus = 0;
};

std::string Seconds(std::chrono::milliseconds span) {
    const auto ms = span.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string WatchReason(TransferVerdict verdict, const TTransferLimits& limits) {
    switch (verdict) {
        case TransferVerdict::NoAnswer: return "no answer within " + Seconds(limits.Answer);
        case TransferVerdict::Stalled: return "no data for " + Seconds(limits.Stall);
        case TransferVerdict::TooSlow:
            return "slower than " + std::to_string(limits.MinBytesPerSecond) + " bytes/s over " + Seconds(limits.SpeedPeriod);
        case TransferVerdict::TooManyRedirects: return "more than " + std::to_string(limits.MaxRedirects) + " redirects";
        case TransferVerdict::Going: break;
    }
    return "the transfer was given up";
}

// What the client's result means for the caller: why it failed and whether to try again.
TDownloadOutcome Failed(const http::TFetchResult& fetched, const TTransferLimits& limits) {
    TDownloadOutcome outcome;
    outcome.Status = fetched.Status;
    outcome.RetryAfter = fetched.RetryAfter;
    if (fetched.Watch != TransferVerdict::Going) {
        outcome.Reason = WatchReason(fetched.Watch, limits);
        outcome.Transient = fetched.Watch != TransferVerdict::TooManyRedirects;
    } else {
        outcome.Reason = fetched.Error.empty() ? "the transfer broke" : fetched.Error;
        outcome.Transient = fetched.Transient;
    }
    return outcome;
}

}  // namespace

TDownloadOutcome DownloadToFile(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                const TTransferLimits& limits,
                                const std::function<void(uint32_t bytesThisRead)>& onRead) {
    BodyFile file(fileName, maxBytes, onRead);
    TDownloadOutcome outcome;
    http::TFetchResult fetched;
    try {
        fetched = http::FetchBody(url, limits, file);
    } catch (const BodyFile::TooLong&) {
        if (!file.IsRefused()) {
            outcome.TooLong = true;
            outcome.Status = file.Status();
            outcome.Reason = "longer than the " + std::to_string(maxBytes) + " bytes expected";
            return outcome;  // the partial file goes with file
        }
        // An error page too long to read through: refused below, like a short one.
    }
    if (file.IsRefused()) {
        outcome.Refused = true;
        outcome.Status = file.Status();
        outcome.Reason = "HTTP status " + std::to_string(outcome.Status);
        outcome.Transient = IsTransientStatus(outcome.Status);
        outcome.RetryAfter = fetched.RetryAfter;
        return outcome;
    }
    if (!fetched.Complete) return Failed(fetched, limits);
    file.Commit();
    outcome.Complete = true;
    outcome.Status = fetched.Status;
    return outcome;
}

bool IsTransientStatus(int status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

std::optional<std::chrono::milliseconds> RetryWait(const TDownloadOutcome& outcome, int triesDone,
                                                   const TRetryLimits& limits) {
    if (outcome.Complete || !outcome.Transient || triesDone >= limits.Tries) return std::nullopt;
    std::chrono::milliseconds wait = limits.FirstWait;
    for (int i = 1; i < triesDone && wait < limits.MaxWait; ++i) wait *= 2;
    if (outcome.RetryAfter) wait = *outcome.RetryAfter;
    return std::min(wait, limits.MaxWait);
}

namespace http {

std::optional<uint64_t> ContentRangeStart(const std::string& value) {
    const std::string prefix = "bytes ";
    if (value.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::size_t dash = value.find('-', prefix.size());
    if (dash == std::string::npos || dash == prefix.size() || dash - prefix.size() > 19) return std::nullopt;
    uint64_t start = 0;
    for (std::size_t i = prefix.size(); i < dash; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(value[i]))) return std::nullopt;
        start = start * 10 + static_cast<uint64_t>(value[i] - '0');
    }
    return start;
}

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
    // If-Range takes only a strong ETag.
    if (!etag.empty() && etag.compare(0, 2, "W/") != 0) return etag;
    return lastModified;
}

bool ContinuesFrom(int status, const std::string& contentRange, uint64_t from) {
    return status == 206 && ContentRangeStart(contentRange) == from;
}

std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value) {
    const std::size_t begin = value.find_first_not_of(" \t");
    const std::size_t end = value.find_last_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::nullopt;
    const std::string digits = value.substr(begin, end - begin + 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
        return std::nullopt;
    return std::chrono::seconds(std::stol(digits));
}

}  // namespace http

}  // namespace orvex
