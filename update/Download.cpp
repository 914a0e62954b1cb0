#include "update/Download.h"

#include "base/Disk.h"
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

// Where a resumable body gathers until it is complete, and the validator of the answer it came
// from. Both are kept after a transfer that broke, so a later try asks for the rest only.
class PartialCopy {
public:
    explicit PartialCopy(const std::string& fileName)
        : FBody(fileName + PartialSuffix), FTag(fileName + PartialTagSuffix) {}

    const std::string& Body() const { return FBody; }

    // The rest to ask for: what is there and which answer it came from. Anything that cannot be
    // continued (no validator, nothing kept, more than the copy may be) is removed.
    std::optional<http::TRange> Resumable(uint64_t maxBytes) {
        const int64_t size = os::FileSize(FBody);
        std::string validator;
        if (size > 0 && static_cast<uint64_t>(size) < maxBytes) validator = ReadTag();
        if (validator.empty()) {
            Discard();
            return std::nullopt;
        }
        return http::TRange{static_cast<uint64_t>(size), validator};
    }

    // Keeps what arrived for the next try; without a validator it cannot be continued and goes.
    bool Keep(const std::string& validator) {
        if (validator.empty() || validator.size() > MaxTag || os::FileSize(FBody) <= 0) {
            Discard();
            return false;
        }
        TTempFile tag(FTag);
        {
            TFileStream stream(tag.Name(), FileMode::Create);
            stream.WriteBuffer(validator.data(), validator.size());
        }
        return tag.Commit();  // no tag: the next try starts over, which is only slower
    }

    void Discard() {
        static_cast<void>(os::DeleteFile(FTag));
        static_cast<void>(os::DeleteFile(FBody));
    }

    // Puts the complete body in place as fileName.
    void Commit(const std::string& fileName) {
        static_cast<void>(os::DeleteFile(FTag));
        if (!os::ReplaceFile(FBody, fileName)) {
            const int code = os::LastError();
            throw EFCreateError(Format(SFCreateError, fileName.c_str(), os::ErrorText(code).c_str()));
        }
    }

private:
    static constexpr std::size_t MaxTag = 1024;

    std::string ReadTag() const {
        try {
            TFileStream stream(FTag, FileMode::OpenRead);
            std::string text(MaxTag, '\0');
            text.resize(stream.Read(text.data(), text.size()));
            return http::IsSendableValidator(text) ? text : std::string();
        } catch (const std::exception&) {
            return std::string();
        }
    }

    std::string FBody, FTag;
};

// The body goes into a file beside fileName that takes its place once the body is complete: a
// temporary one, or for a resumable download the partial copy. When the URL answered but the body
// did not arrive, the previous file goes too: no file then means no download, and nothing stale is
// taken for the new body.
// Thrown through the HTTP client to end the transfer at the read that passes the limit.
struct TooLong {};
// Thrown when a part answers a range other than the one asked for.
struct UnaskedPart {};
// Thrown when the body would eat into the free space the volume keeps.
struct NoRoom {};
// An error page is read to its end (a short one lets the connection finish cleanly) but not kept,
// and not beyond this.
constexpr uint64_t MaxErrorBody = 64 * 1024;

class BodyFile final : public http::IBodyReceiver {
public:
    BodyFile(const std::string& fileName, uint64_t maxBytes, uint64_t freeSpaceReserve, const TReadReport& onRead,
             bool resumable)
        : FFileName(fileName), FMaxBytes(maxBytes), FOnRead(onRead), FRoom(fileName, freeSpaceReserve) {
        if (resumable) FPartial.emplace(fileName);
    }
    ~BodyFile() override {
        if (!FCreated || FCommitted) return;
        FStream.reset();
        FTemp.reset();
        if (FPartial && !FKept) FPartial->Discard();
        // Missing already, or held by someone else: either way there is nothing more to do.
        static_cast<void>(os::DeleteFile(FFileName));
    }
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    // The range to ask for: the rest of a partial copy kept by an earlier try.
    std::optional<http::TRange> Range() {
        FRange = FPartial ? FPartial->Resumable(FMaxBytes) : std::nullopt;
        return FRange;
    }

    void BodyOpened(int status, bool continues) override {
        FStatus = status;
        FCreated = true;  // from here on, the previous file goes unless the body arrives
        if (status < 200 || status > 299) {
            FRefused = true;
            FKept = true;  // a busy or failing server leaves the partial copy as it was
            return;
        }
        if (status == 206 && !continues) throw UnaskedPart{};
        if (!continues) FRange.reset();  // the whole body again: it starts over
        FReceived = FRange ? FRange->From : 0;
        const std::string& name = FPartial ? FPartial->Body() : FTemp.emplace(FFileName).Name();
        try {
            FStream.emplace(name, FRange ? FileMode::Append : FileMode::Create);
        } catch (const EFCreateError& error) {
            throw EFCreateError(NamingTarget(name, error.what()));
        }
        if (FRange) FOnRead(FReceived, 0);
    }

    void BodyRead(const void* data, std::size_t count) override {
        FReceived += count;
        if (FReceived > (FRefused ? std::min(FMaxBytes, MaxErrorBody) : FMaxBytes)) throw TooLong{};
        if (FRefused) return;
        if (!FRoom.Admit(count)) throw NoRoom{};
        FStream->WriteBuffer(data, count);
        FOnRead(FReceived, static_cast<uint32_t>(count));
    }

    bool IsRefused() const { return FRefused; }
    int Status() const { return FStatus; }

    // The transfer broke: what arrived stays for the next try when the answer named its version.
    // The bytes it added to the partial copy.
    uint64_t KeepPartial(const std::string& validator) {
        if (!FPartial || FRefused || !FCreated) return 0;  // no answer: a kept copy stays as it was
        FStream.reset();
        // A part that continued the copy is of the version the range named, whatever it says.
        if (!FPartial->Keep(validator.empty() && FRange ? FRange->Validator : validator)) return 0;
        FKept = true;
        return FReceived - (FRange ? FRange->From : 0);
    }

    void Commit() {
        FStream.reset();
        if (FPartial)
            FPartial->Commit(FFileName);
        else
            FTemp->CommitOrRaise();
        FCommitted = true;
    }

private:
    // A refusal to create names the file the caller asked for, not the one beside it.
    std::string NamingTarget(const std::string& name, const std::string& message) const {
        const std::string prefix = Format(SFCreateError, name.c_str(), "");
        if (message.compare(0, prefix.size(), prefix) != 0) return message;
        return Format(SFCreateError, FFileName.c_str(), message.c_str() + prefix.size());
    }

    const std::string& FFileName;
    uint64_t FMaxBytes;
    uint64_t FReceived = 0;
    const TReadReport& FOnRead;
    TFreeSpaceGuard FRoom;
    std::optional<PartialCopy> FPartial;
    std::optional<http::TRange> FRange;
    std::optional<TTempFile> FTemp;
    std::optional<TFileStream> FStream;  // after FTemp: closed before the file is removed
    bool FCreated = false;
    bool FCommitted = false;
    bool FKept = false;
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
        case TransferVerdict::OutOfTime: return "silent or too slow for " + Seconds(limits.Idle) + " in all";
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

// The body kept in memory, e.g. a chunk: nothing to resume, nothing left behind.
class BodyInMemory final : public http::IBodyReceiver {
public:
    BodyInMemory(std::vector<uint8_t>& body, uint64_t maxBytes, const TReadReport& onRead)
        : FBody(body), FMaxBytes(maxBytes), FOnRead(onRead) {
        FBody.clear();
    }

    std::optional<http::TRange> Range() { return std::nullopt; }

    void BodyOpened(int status, bool) override {
        FStatus = status;
        FRefused = status < 200 || status > 299;
        if (status == 206) throw UnaskedPart{};
        FBody.clear();
    }

    void BodyRead(const void* data, std::size_t count) override {
        FReceived += count;
        if (FReceived > (FRefused ? std::min(FMaxBytes, MaxErrorBody) : FMaxBytes)) throw TooLong{};
        if (FRefused) return;
        const auto* bytes = static_cast<const uint8_t*>(data);
        FBody.insert(FBody.end(), bytes, bytes + count);
        FOnRead(FReceived, static_cast<uint32_t>(count));
    }

    bool IsRefused() const { return FRefused; }
    int Status() const { return FStatus; }
    uint64_t KeepPartial(const std::string&) {
        FBody.clear();
        return 0;
    }
    void Commit() {}

private:
    std::vector<uint8_t>& FBody;
    uint64_t FMaxBytes;
    uint64_t FReceived = 0;
    const TReadReport& FOnRead;
    bool FRefused = false;
    int FStatus = 0;
};

// One request: the rest of a partial copy when one is kept, else the whole body.
template <class Body>
TDownloadOutcome FetchOnce(const std::string& url, Body& file, uint64_t maxBytes, const TTransferLimits& limits,
                           bool& rangeRefused) {
    TDownloadOutcome outcome;
    http::TFetchResult fetched;
    const std::optional<http::TRange> range = file.Range();
    try {
        fetched = http::FetchBody(url, limits, file, range);
    } catch (const TooLong&) {
        if (!file.IsRefused()) {
            outcome.TooLong = true;
            outcome.Status = file.Status();
            outcome.Reason = "longer than the " + std::to_string(maxBytes) + " bytes expected";
            return outcome;  // the partial file goes with file
        }
        // An error page too long to read through: refused below, like a short one.
    } catch (const NoRoom&) {
        outcome.Status = file.Status();
        outcome.Reason = "not enough free disk space (downloads keep " + std::to_string(limits.FreeSpaceReserve >> 20) +
                         " MiB free)";
        return outcome;  // not worth another try: the partial file goes with file
    } catch (const UnaskedPart&) {
        outcome.Status = 206;
        outcome.Reason = "a part of the file that was not asked for";
        outcome.Transient = true;  // the partial copy goes: the next try asks for the whole body
        return outcome;
    }
    if (file.IsRefused()) {
        outcome.Refused = true;
        outcome.Status = file.Status();
        outcome.Reason = "HTTP status " + std::to_string(outcome.Status);
        outcome.Transient = IsTransientStatus(outcome.Status);
        outcome.RetryAfter = fetched.RetryAfter;
        outcome.Idle = fetched.Idle;
        rangeRefused = range && outcome.Status == 416;
        return outcome;
    }
    if (!fetched.Complete) {
        const uint64_t kept = file.KeepPartial(fetched.Validator);
        outcome = Failed(fetched, limits);
        outcome.KeptBytes = kept;
        outcome.Idle = fetched.Idle;
        return outcome;
    }
    file.Commit();
    outcome.Complete = true;
    outcome.Status = fetched.Status;
    return outcome;
}

}  // namespace

TDownloadOutcome DownloadToFile(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                const TTransferLimits& limits, const TReadReport& onRead, bool resumable) {
    bool rangeRefused = false;
    TDownloadOutcome outcome;
    {
        BodyFile file(fileName, maxBytes, limits.FreeSpaceReserve, onRead, resumable);
        outcome = FetchOnce(url, file, maxBytes, limits, rangeRefused);
    }
    if (rangeRefused) {
        // The server's file no longer reaches as far as the partial copy: it starts over at once.
        DiscardPartialCopy(fileName);
        BodyFile file(fileName, maxBytes, limits.FreeSpaceReserve, onRead, resumable);
        outcome = FetchOnce(url, file, maxBytes, limits, rangeRefused);
    }
    outcome.Url = url;
    return outcome;
}

TDownloadOutcome DownloadToMemory(const std::string& url, std::vector<uint8_t>& body, uint64_t maxBytes,
                                  const TTransferLimits& limits, const TReadReport& onRead) {
    bool rangeRefused = false;
    TDownloadOutcome outcome;
    {
        BodyInMemory receiver(body, maxBytes, onRead);
        outcome = FetchOnce(url, receiver, maxBytes, limits, rangeRefused);
    }
    if (!outcome) body.clear();
    outcome.Url = url;
    return outcome;
}

void DiscardPartialCopy(const std::string& fileName) {
    PartialCopy(fileName).Discard();
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

}  // namespace orvex
