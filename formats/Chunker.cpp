#include "formats/Chunker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <stdexcept>

namespace orvex {

namespace {

// SplitMix64 (Steele, Lea, Flood 2014): state += 0x9E3779B97F4A7C15, then two xor-shift-multiply
// rounds. Simple, and its outputs are well spread, which is all a gear table needs.
constexpr uint64_t SplitMix64(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// "OrvexCDC" in ASCII.
constexpr uint64_t GearSeed = 0x4F72766578434443ull;

constexpr std::array<uint64_t, 256> MakeGear() {
    std::array<uint64_t, 256> gear{};
    uint64_t state = GearSeed;
    for (uint64_t& entry : gear) entry = SplitMix64(state);
    return gear;
}

constexpr std::array<uint64_t, 256> Gear = MakeGear();

constexpr uint64_t TopBits(unsigned count) { return ~uint64_t{0} << (64 - count); }

// Hashes up to count bytes and stops after the first where the hash clears mask; gives how many
// bytes it took and whether it stopped for the mask.
std::size_t Scan(const uint8_t* data, std::size_t count, uint64_t mask, uint64_t& hash, bool& found) {
    uint64_t h = hash;
    for (std::size_t i = 0; i < count; ++i) {
        h = (h << 1) + Gear[data[i]];
        if ((h & mask) == 0) {
            hash = h;
            found = true;
            return i + 1;
        }
    }
    hash = h;
    found = false;
    return count;
}

}  // namespace

std::optional<std::string> ChunkerParamsProblem(const TChunkerParams& params) {
    if (params.MinSize == 0) return "the minimum chunk size is 0";
    if (params.MinSize > params.AverageSize || params.AverageSize > params.MaxSize)
        return "the chunk sizes are not minimum <= average <= maximum";
    if (params.MaxSize > ChunkSizeLimit)
        return "the maximum chunk size is above " + std::to_string(ChunkSizeLimit);
    if (params.AverageSize < SmallestAverageSize || !std::has_single_bit(params.AverageSize))
        return "the average chunk size is not a power of two from " + std::to_string(SmallestAverageSize);
    return std::nullopt;
}

TChunkCutter::TChunkCutter(const TChunkerParams& params) : FParams(params) {
    if (const auto problem = ChunkerParamsProblem(params)) throw std::invalid_argument(*problem);
    const auto bits = static_cast<unsigned>(std::countr_zero(params.AverageSize));
    FSmallMask = TopBits(bits + 2);
    FLargeMask = TopBits(bits - 2);
}

void TChunkCutter::Feed(const uint8_t* data, std::size_t size, std::vector<uint64_t>& cuts) {
    // The first bytes of a chunk are never hashed: no chunk but a stream's last is below MinSize.
    const uint32_t unhashed = FParams.MinSize - 1;
    const uint32_t lastSmall = FParams.AverageSize - 1;  // the longest chunk cut with the small mask
    std::size_t done = 0;
    while (done < size) {
        const std::size_t left = size - done;
        if (FChunkLength < unhashed) {
            const std::size_t skip = std::min<std::size_t>(unhashed - FChunkLength, left);
            FChunkLength += static_cast<uint32_t>(skip);
            done += skip;
            continue;
        }
        const bool small = FChunkLength < lastSmall;
        const uint32_t regionEnd = small ? lastSmall : FParams.MaxSize;
        const std::size_t count = std::min<std::size_t>(regionEnd - FChunkLength, left);
        bool found = false;
        const std::size_t taken = Scan(data + done, count, small ? FSmallMask : FLargeMask, FHash, found);
        FChunkLength += static_cast<uint32_t>(taken);
        done += taken;
        if (found || FChunkLength == FParams.MaxSize) {
            FChunkStart += FChunkLength;
            cuts.push_back(FChunkStart);
            FChunkLength = 0;
            FHash = 0;
        }
    }
}

std::optional<uint64_t> TChunkCutter::Finish() {
    std::optional<uint64_t> end;
    if (FChunkLength > 0) end = FChunkStart + FChunkLength;
    FChunkStart = 0;
    FChunkLength = 0;
    FHash = 0;
    return end;
}

std::vector<uint64_t> CutPoints(const uint8_t* data, std::size_t size, const TChunkerParams& params) {
    TChunkCutter cutter(params);
    std::vector<uint64_t> cuts;
    cutter.Feed(data, size, cuts);
    if (const auto end = cutter.Finish()) cuts.push_back(*end);
    return cuts;
}

}  // namespace orvex
