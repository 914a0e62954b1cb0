#include "formats/Unpack.h"

#include "base/Disk.h"
#include "base/Os.h"
#include "base/TempFile.h"
#include "formats/BZip2.h"

#include <memory>
#include <optional>

namespace orvex {

namespace {

// Keeps the output within its limits, asking for the free space once every check interval.
class OutputGuard {
public:
    explicit OutputGuard(const TUnpackLimits& limits) : FLimits(limits) {}

    // Before count more bytes are written.
    void Admit(std::size_t count) {
        FWritten += count;
        if (FWritten > FLimits.MaxOutput) throw EUnpackLimit("The unpacked data is longer than allowed");
        if (FLimits.Volume.empty() || FWritten < FNextCheck) return;
        FNextCheck = FWritten + FreeSpaceCheckInterval;
        const std::optional<uint64_t> free = os::FreeSpace(FLimits.Volume);
        // Room for the reserve and for everything written before the next look.
        if (free && *free < FLimits.FreeSpaceReserve + FreeSpaceCheckInterval)
            throw EUnpackLimit("Not enough free disk space to unpack " + FLimits.Volume);
    }

private:
    const TUnpackLimits& FLimits;
    uint64_t FWritten = 0;
    uint64_t FNextCheck = 0;
};

void DecodeInto(TStream& source, TStream& target, IUnpackObserver* observer, const TUnpackLimits& limits) {
    if (observer) observer->UnpackStarted(source);
    auto decoder = std::make_unique<TBZDecompressionStream>(source);
    if (observer) decoder->OnProgress = [observer, &source](TStream&) { observer->UnpackProgress(source); };
    auto buffer = std::make_unique<char[]>(TCustomBZip2Stream::BufferSize);
    OutputGuard guard(limits);
    guard.Admit(0);
    for (;;) {
        const std::size_t got = decoder->Read(buffer.get(), TCustomBZip2Stream::BufferSize);
        if (got == 0) break;
        guard.Admit(got);
        target.WriteBuffer(buffer.get(), got);
    }
}

// The downloaded file: once opened, it is closed and deleted on every way out.
class PackedFile {
public:
    explicit PackedFile(const std::string& name) : FName(name), FStream(std::in_place, name, FileMode::OpenRead) {}
    ~PackedFile() {
        FStream.reset();
        // A download that cannot be removed is left for the next run's download to replace.
        static_cast<void>(os::DeleteFile(FName));
    }
    PackedFile(const PackedFile&) = delete;
    PackedFile& operator=(const PackedFile&) = delete;
    TStream& Stream() { return *FStream; }

private:
    std::string FName;
    std::optional<TFileStream> FStream;
};

}  // namespace

void UnpackBZip2Stream(TStream& source, TStream& target, IUnpackObserver* observer, const TUnpackLimits& limits) {
    try {
        DecodeInto(source, target, observer, limits);
    } catch (...) {
        if (observer) observer->UnpackFinished();
        throw;
    }
    if (observer) observer->UnpackFinished();
}

void UnpackBZip2File(const std::string& source, const std::string& target, IUnpackObserver* observer,
                     uint64_t freeSpaceReserve) {
    TTempFile unpacked(target);
    {
        PackedFile packed(source);
        TFileStream stream(unpacked.Name(), FileMode::Create);
        TUnpackLimits limits;
        limits.Volume = unpacked.Name();
        limits.FreeSpaceReserve = freeSpaceReserve;
        UnpackBZip2Stream(packed.Stream(), stream, observer, limits);
    }
    unpacked.CommitOrRaise();
}

}  // namespace orvex
