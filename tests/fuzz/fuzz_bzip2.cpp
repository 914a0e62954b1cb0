// Arbitrary bytes as a downloaded .bz2: decoding may fail with our errors, but never crash, and a
// restart must give the same bytes again. The block-parallel decode must agree with the sequential
// one: whatever it passes on is what the sequential decode gives, and it claims success only where
// the sequential decode succeeds.
#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "formats/BZip2.h"
#include "formats/BZip2Blocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace orvex;

namespace {

// Small inputs can expand enormously; the decoder's behaviour is the same after this much.
constexpr int64_t DecodedLimit = 8 << 20;

struct SequentialResult {
    std::vector<uint8_t> Decoded;  // at most about DecodedLimit bytes of it
    bool Complete = false;         // decoded to its end without an error
};

SequentialResult DecodeSequentially(const uint8_t* data, std::size_t size) {
    TMemoryStream source(std::vector<uint8_t>(data, data + size));
    SequentialResult result;
    try {
        TBZDecompressionStream stream(source);
        static uint8_t head[4096], again[4096], rest[65536];  // rest: the 65536 below
        const std::size_t headLength = stream.Read(head, sizeof head);
        result.Decoded.assign(head, head + headLength);
        int64_t total = static_cast<int64_t>(headLength);
        bool ended = headLength < sizeof head;
        while (!ended && total <= DecodedLimit) {
            const std::size_t got = stream.Read(rest, sizeof rest);
            if (got == 0) ended = true;
            result.Decoded.insert(result.Decoded.end(), rest, rest + got);
            total += static_cast<int64_t>(got);
        }
        result.Complete = ended;
        if (stream.Seek(0, SeekOrigin::Current) != total) __builtin_trap();
        if (stream.Seek(0, SeekOrigin::Beginning) != 0) __builtin_trap();
        const std::size_t againLength = stream.Read(again, sizeof again);
        if (againLength != headLength || std::memcmp(head, again, headLength) != 0) __builtin_trap();
        const auto skipTo = static_cast<int64_t>(againLength) + 10;
        if (total >= skipTo && stream.Seek(10, SeekOrigin::Current) != skipTo) __builtin_trap();
    } catch (const Exception&) {
        result.Complete = false;
    }
    return result;
}

struct EnoughDecoded {};

struct CappedOutput : IBlockOutput {
    std::vector<uint8_t> Decoded;
    uint64_t LastProgress = 0;
    void Output(const uint8_t* bytes, std::size_t count) override {
        Decoded.insert(Decoded.end(), bytes, bytes + count);
        if (Decoded.size() > static_cast<std::size_t>(DecodedLimit)) throw EnoughDecoded{};
    }
    void PackedDone(uint64_t packedDone) override {
        if (packedDone < LastProgress) __builtin_trap();
        LastProgress = packedDone;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const SequentialResult sequential = DecodeSequentially(data, size);

    TMemoryStream source(std::vector<uint8_t>(data, data + size));
    CappedOutput parallel;
    TBlockDecodeOptions options;
    options.Threads = 2;
    bool decoded = false, capped = false;
    try {
        decoded = DecodeBlocksInParallel(source, parallel, options);
    } catch (const EnoughDecoded&) {
        capped = true;
    }
    const std::vector<uint8_t>& ours = parallel.Decoded;
    const std::vector<uint8_t>& theirs = sequential.Decoded;
    const std::size_t common = ours.size() < theirs.size() ? ours.size() : theirs.size();
    if (!std::equal(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(common), theirs.begin())) __builtin_trap();
    // Verified blocks come out in order, so the sequential decode gets at least as far, but an error
    // takes with it the bytes of the read it ends.
    if (ours.size() > theirs.size() + 65536 && theirs.size() <= static_cast<std::size_t>(DecodedLimit)) __builtin_trap();
    if (decoded && !capped) {
        if (!sequential.Complete || ours.size() != theirs.size() || parallel.LastProgress != size) __builtin_trap();
    }
    return 0;
}
