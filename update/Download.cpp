#include "update/Download.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "base/TempFile.h"
#include "update/HttpBody.h"

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

    void BodyOpened() override {
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
        if (FReceived > FMaxBytes) throw TooLong{};
        FStream->WriteBuffer(data, count);
        FOnRead(static_cast<uint32_t>(count));
    }

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
};

}  // namespace

TDownloadOutcome DownloadToFile(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                const TTransferLimits& limits,
                                const std::function<void(uint32_t bytesThisRead)>& onRead) {
    BodyFile file(fileName, maxBytes, onRead);
    try {
        if (!http::FetchBody(url, limits, file)) return {};  // a partial file goes with file
    } catch (const BodyFile::TooLong&) {
        return {false, true};
    }
    file.Commit();
    return {true, false};
}

}  // namespace orvex
