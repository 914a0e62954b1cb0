#include "formats/Unpack.h"

#include "base/Disk.h"
#include "base/Os.h"
#include "base/TempFile.h"
#include "formats/BZip2.h"
#include "formats/BZip2Blocks.h"
#include "util/Parallel.h"

#include <algorithm>

#include <memory>
#include <optional>
#include <utility>

namespace orvex {

TOutputGuard::TOutputGuard(TUnpackLimits limits, std::string doing)
    : FLimits(std::move(limits)), FDoing(std::move(doing)), FRoom(FLimits.Volume, FLimits.FreeSpaceReserve) {}

void TOutputGuard::Admit(std::size_t count) {
    FWritten += count;
    if (FWritten > FLimits.MaxOutput) throw EUnpackLimit("The unpacked data is longer than allowed");
    if (!FLimits.Volume.empty() && !FRoom.Admit(count))
        throw EUnpackLimit("Not enough free disk space to " + FDoing + " " + FLimits.Volume);
}

namespace {

// Passes progress on only while it does not fall, so a decode that starts over leaves the
// observer's bar where it was until it catches up.
class ProgressReport {
public:
    explicit ProgressReport(IUnpackObserver* observer) : FObserver(observer) {}

    bool Wanted() const { return FObserver != nullptr; }
    void Started(uint64_t packedSize) {
        if (FObserver) FObserver->UnpackStarted(packedSize);
    }
    void Done(uint64_t packedDone) {
        if (!FObserver || packedDone < FHighest) return;
        FHighest = packedDone;
        FObserver->UnpackProgress(packedDone);
    }

private:
    IUnpackObserver* FObserver;
    uint64_t FHighest = 0;
};

// Writes through the guard in the pieces the sequential decode uses, so the free space is asked
// for at the same pace.
void GuardedWrite(TStream& target, TOutputGuard& guard, const uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const std::size_t piece = std::min(count, TCustomBZip2Stream::BufferSize);
        guard.Admit(piece);
        target.WriteBuffer(bytes, piece);
        bytes += piece;
        count -= piece;
    }
}

void DecodeSequentially(TStream& source, TStream& target, ProgressReport& progress, const TUnpackLimits& limits) {
    auto decoder = std::make_unique<TBZDecompressionStream>(source);
    if (progress.Wanted())
        decoder->OnProgress = [&progress, &source](TStream&) { progress.Done(static_cast<uint64_t>(source.GetPosition())); };
    auto buffer = std::make_unique<uint8_t[]>(TCustomBZip2Stream::BufferSize);
    TOutputGuard guard(limits);
    guard.Admit(0);
    for (;;) {
        const std::size_t got = decoder->Read(buffer.get(), TCustomBZip2Stream::BufferSize);
        if (got == 0) break;
        GuardedWrite(target, guard, buffer.get(), got);
    }
}

class GuardedBlockOutput : public IBlockOutput {
public:
    GuardedBlockOutput(TStream& target, ProgressReport& progress, const TUnpackLimits& limits)
        : FTarget(target), FProgress(progress), FGuard(limits) {
        FGuard.Admit(0);
    }
    void Output(const uint8_t* bytes, std::size_t count) override { GuardedWrite(FTarget, FGuard, bytes, count); }
    void PackedDone(uint64_t packedDone) override { FProgress.Done(packedDone); }

private:
    TStream& FTarget;
    ProgressReport& FProgress;
    TOutputGuard FGuard;
};

template <typename Work>
void ReportingTheEnd(IUnpackObserver* observer, Work&& work) {
    try {
        work();
    } catch (...) {
        if (observer) observer->UnpackFinished();
        throw;
    }
    if (observer) observer->UnpackFinished();
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
    ReportingTheEnd(observer, [&] {
        ProgressReport progress(observer);
        if (progress.Wanted()) progress.Started(static_cast<uint64_t>(source.GetSize()));
        DecodeSequentially(source, target, progress, limits);
    });
}

void UnpackBZip2File(const std::string& source, const std::string& target, IUnpackObserver* observer,
                     uint64_t freeSpaceReserve, unsigned threads) {
    TTempFile unpacked(target);
    {
        PackedFile packed(source);
        std::optional<TFileStream> output(std::in_place, unpacked.Name(), FileMode::Create);
        TUnpackLimits limits;
        limits.Volume = unpacked.Name();
        limits.FreeSpaceReserve = freeSpaceReserve;
        ReportingTheEnd(observer, [&] {
            TStream& input = packed.Stream();
            const auto packedSize = static_cast<uint64_t>(input.GetSize());
            ProgressReport progress(observer);
            progress.Started(packedSize);
            const unsigned cores = threads == 0 ? CoreCount() : threads;
            if (cores > 1 && packedSize >= ParallelUnpackMinimum) {
                GuardedBlockOutput blocks(*output, progress, limits);
                TBlockDecodeOptions options;
                options.Threads = cores;
                if (DecodeBlocksInParallel(input, blocks, options)) return;
                // Not a stream the blocks could be placed in: the sequential decode's result, or its
                // error, is the one that counts.
                output.reset();
                output.emplace(unpacked.Name(), FileMode::Create);
                input.SetPosition(0);
            }
            DecodeSequentially(input, *output, progress, limits);
        });
    }
    unpacked.CommitOrRaise();
}

}  // namespace orvex
