#pragma once
// Decoding one bzip2 stream on several cores: its blocks are found by their magic bit patterns,
// each is re-wrapped as a stream of its own and decoded by libbz2, and the results are put back
// in order. libbz2 does all the decoding; this code only finds and copies bits.
#include "base/Stream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvex {

inline constexpr uint64_t BlockMagic = 0x314159265359;
inline constexpr uint64_t EndOfStreamMagic = 0x177245385090;

// A place where a block or the stream's end may begin. Block data can hold either pattern by
// chance, so a hit is only a candidate.
struct TMagicHit {
    uint64_t Bit = 0;  // of the pattern's first bit, counted from the stream's first byte
    bool EndOfStream = false;
    bool operator==(const TMagicHit&) const = default;
};

// Finds both patterns at every bit offset of bytes fed in order, in windows of any size.
class TMagicScanner {
public:
    // Appends the hits that end inside bytes, in order of their bits. Hits starting before bit 32
    // (the stream header) are not reported.
    void Scan(const uint8_t* bytes, std::size_t count, std::vector<TMagicHit>& hits);

private:
    uint64_t FRecent = 0;    // the last eight bytes seen, the latest in the low bits
    uint64_t FBytesSeen = 0;
};

// Bits of a packed stream copied out as a stand-alone stream of one block: the header with level,
// bits [firstBit, endBit) of source (whose byte 0 is the stream's byte sourceByte), and a trailer
// whose combined CRC is the block's own. Empty when the range is too short to hold a block header.
std::vector<uint8_t> WrapBlock(char level, const uint8_t* source, uint64_t sourceByte, uint64_t firstBit,
                               uint64_t endBit, uint32_t& blockCrc);

// Where a parallel decode puts its results, always on the calling thread and in stream order.
class IBlockOutput {
public:
    virtual ~IBlockOutput() = default;
    virtual void Output(const uint8_t* bytes, std::size_t count) = 0;
    // Everything decoded from the first packedDone bytes has been output.
    virtual void PackedDone(uint64_t packedDone) = 0;
};

struct TBlockDecodeOptions {
    unsigned Threads = 2;
    // Candidates added to those the scanner finds, to exercise the handling of false ones.
    std::vector<TMagicHit> ExtraCandidates;
};

// Memory bounds for a 32-bit process: at most MaxBlockThreads decoders (about 3.7 MB each at level
// 9) and Threads + 2 parts in flight, each holding at most MaxPackedPart packed bytes (twice: raw
// and wrapped) and MaxHeldOutput decoded bytes; a part that decodes to more is checked, dropped
// and decoded again straight into the output when its turn comes. With 8 threads: under 90 MiB.
inline constexpr unsigned MaxBlockThreads = 8;
inline constexpr std::size_t MaxPackedPart = std::size_t{3} << 20;
inline constexpr std::size_t MaxHeldOutput = std::size_t{2} << 20;

// Decodes the bzip2 stream source holds from its current position to its end, passing the bytes
// to output in order. Returns false, possibly after some output, when the data is anything but
// one complete stream it can split into verified blocks (undecodable, truncated, followed by more
// data): the caller then decodes it sequentially from the start into a fresh output. Exceptions
// of output and source pass.
[[nodiscard]] bool DecodeBlocksInParallel(TStream& source, IBlockOutput& output, const TBlockDecodeOptions& options);

}  // namespace orvex
