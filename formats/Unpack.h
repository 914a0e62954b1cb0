#pragma once
// Turning a downloaded .bz2 file into the file it stands for.
#include "base/Disk.h"
#include "base/Exceptions.h"
#include "base/Stream.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace orvex {

// What the unpacking reports while it runs, e.g. to move a progress bar by the compressed input.
class IUnpackObserver {
public:
    virtual ~IUnpackObserver() = default;
    virtual void UnpackStarted(uint64_t packedSize) = 0;  // the work: the packed bytes
    virtual void UnpackProgress(uint64_t packedDone) = 0;  // rises, in order, to packedSize
    virtual void UnpackFinished() = 0;                     // on every way out, also when an error passes
};

// A few hundred bytes can decode to terabytes: the output is bounded.
inline constexpr uint64_t DefaultFreeSpaceReserve = uint64_t{256} * 1024 * 1024;

struct TUnpackLimits {
    uint64_t MaxOutput = std::numeric_limits<uint64_t>::max();
    // A path on the volume the output goes to; empty for output that is not a file.
    std::string Volume;
    // The free space unpacking leaves on Volume.
    uint64_t FreeSpaceReserve = DefaultFreeSpaceReserve;
};

// The output would pass a limit: unpacking stopped before it did.
class EUnpackLimit : public Exception {
public:
    using Exception::Exception;
};

// Keeps output written to a file within limits, asking for the free space once every check
// interval, so the reserve holds between two looks too. doing names the work in the error.
class TOutputGuard {
public:
    explicit TOutputGuard(TUnpackLimits limits, std::string doing = "unpack");
    // Before count more bytes are written: raises EUnpackLimit when they would pass a limit.
    void Admit(std::size_t count);

private:
    TUnpackLimits FLimits;
    std::string FDoing;
    TFreeSpaceGuard FRoom;
    uint64_t FWritten = 0;
};

// Decodes the whole bzip2 stream of source into target. observer may be null. Raises EUnpackLimit
// before the output passes limits.
void UnpackBZip2Stream(TStream& source, TStream& target, IUnpackObserver* observer, const TUnpackLimits& limits = {});

// Smaller copies are mostly one block and gain nothing from the threads they would start. A copy of
// two blocks (about 560 KiB packed) already decodes 1.23 times as fast on two cores.
inline constexpr uint64_t ParallelUnpackMinimum = uint64_t{256} << 10;

// Decodes the .bz2 file source into the file target and deletes source once it could be opened.
// The target is replaced only by a completely decoded stream; on any error the previous target stays
// as it was. Raises EUnpackLimit, leaving no partial file, before the free space of the target's
// volume falls below freeSpaceReserve. threads: 1 decodes on the calling thread alone, 0 uses every
// core; results and errors are the same either way.
void UnpackBZip2File(const std::string& source, const std::string& target, IUnpackObserver* observer,
                     uint64_t freeSpaceReserve = DefaultFreeSpaceReserve, unsigned threads = 0);

}  // namespace orvex
