// Arbitrary bytes as a downloaded .bz2: decoding may fail with our errors, but never crash, and a
// restart must give the same bytes again.
#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "formats/BZip2.h"

#include <cstdint>
#include <cstring>
#include <vector>

using namespace orvex;

namespace {

// Small inputs can expand enormously; the decoder's behaviour is the same after this much.
constexpr int64_t DecodedLimit = 8 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    TMemoryStream source(std::vector<uint8_t>(data, data + size));
    try {
        TBZDecompressionStream stream(source);
        static uint8_t head[4096], again[4096], rest[65536];
        const std::size_t headLength = stream.Read(head, sizeof head);
        int64_t total = static_cast<int64_t>(headLength);
        while (total < DecodedLimit) {
            const std::size_t got = stream.Read(rest, sizeof rest);
            if (got == 0) break;
            total += static_cast<int64_t>(got);
        }
        if (stream.Seek(0, SeekOrigin::Current) != total) __builtin_trap();
        if (stream.Seek(0, SeekOrigin::Beginning) != 0) __builtin_trap();
        const std::size_t againLength = stream.Read(again, sizeof again);
        if (againLength != headLength || std::memcmp(head, again, headLength) != 0) __builtin_trap();
        const auto skipTo = static_cast<int64_t>(againLength) + 10;
        if (total >= skipTo && stream.Seek(10, SeekOrigin::Current) != skipTo) __builtin_trap();
    } catch (const Exception&) {
    }
    return 0;
}
