#pragma once
// Content-defined chunking: files are cut where their content says, not at fixed offsets, so an
// insertion or removal moves only the cuts near it and the chunks after it keep their hashes.
//
// The cutter is of the FastCDC kind. A gear hash runs over each chunk from its MinSize-th byte on
// (h = (h << 1) + Gear[byte], starting from 0 at each chunk, so a cut depends on the chunk's own
// bytes only); a chunk ends after the byte where the hash's top bits are all zero. Normalized
// chunking: before AverageSize bytes the hash must clear two more bits than log2(AverageSize),
// from there on two fewer, which gathers chunk sizes around the average. A chunk that reaches
// MaxSize ends there. With top bits the cut decision looks at the last 64 bytes.
//
// The gear table comes from SplitMix64 with a fixed seed, so every build cuts alike. Changing the
// seed, the masks or the rules above changes every cut: that needs a new chunk index version.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct TChunkerParams {
    uint32_t MinSize = 16 * 1024;
    uint32_t AverageSize = 64 * 1024;  // a power of two
    uint32_t MaxSize = 256 * 1024;

    bool operator==(const TChunkerParams&) const = default;
};

// A chunk is held whole in memory by whoever fetches it: this bounds what parameters may ask for.
inline constexpr uint32_t ChunkSizeLimit = 8 * 1024 * 1024;
inline constexpr uint32_t SmallestAverageSize = 256;

// Why the parameters cannot be used, or nothing when they can.
std::optional<std::string> ChunkerParamsProblem(const TChunkerParams& params);

// Cuts a stream of bytes given in pieces of any size; the cuts do not depend on how it is split.
// Memory stays the same whatever the length.
class TChunkCutter {
public:
    // Raises std::invalid_argument for parameters ChunkerParamsProblem refuses.
    explicit TChunkCutter(const TChunkerParams& params = {});

    // Takes the next piece; appends to cuts the end offset (from the stream's start) of each chunk
    // completed within it.
    void Feed(const uint8_t* data, std::size_t size, std::vector<uint64_t>& cuts);
    // Ends the stream: the end offset of the last chunk, or nothing when no bytes wait for a cut
    // (an empty stream, or one that ended right at a cut). The cutter then starts a new stream.
    std::optional<uint64_t> Finish();

    const TChunkerParams& Params() const { return FParams; }

private:
    TChunkerParams FParams;
    uint64_t FSmallMask;  // before AverageSize
    uint64_t FLargeMask;  // from AverageSize on
    uint64_t FChunkStart = 0;
    uint32_t FChunkLength = 0;
    uint64_t FHash = 0;
};

// The end offsets of a whole buffer's chunks, in order; the last is size (none for an empty buffer).
std::vector<uint64_t> CutPoints(const uint8_t* data, std::size_t size, const TChunkerParams& params = {});

}  // namespace orvex
