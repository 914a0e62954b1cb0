#include "formats/Zstd.h"

#include <zstd.h>

#include <algorithm>
#include <memory>
#include <string>

namespace orvex {

namespace {

struct TFreeDecompressor {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using TDecompressor = std::unique_ptr<ZSTD_DCtx, TFreeDecompressor>;

// Output grows by doubling from here, so a small frame claiming much costs little before it fails.
constexpr std::size_t FirstOutputSize = 64 * 1024;

std::string Bytes(std::size_t count) { return std::to_string(count) + " bytes"; }

TDecompressor NewDecompressor() {
    TDecompressor context(ZSTD_createDCtx());
    if (!context) throw EZstdError("zstd: no memory for a decompressor");
    ZstdChecked(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, ZstdWindowLogLimit), "limiting the window");
    return context;
}

// Before decoding: what the frame header claims, where it claims anything, must fit.
void CheckClaimedSize(const uint8_t* frame, std::size_t size, std::optional<std::size_t> expectedSize,
                      std::size_t cap) {
    const unsigned long long claimed = ZSTD_getFrameContentSize(frame, size);
    if (claimed == ZSTD_CONTENTSIZE_ERROR) throw EZstdError("zstd: not a zstd frame");
    if (claimed == ZSTD_CONTENTSIZE_UNKNOWN) return;
    if (claimed > cap) throw EZstdError("zstd: the frame claims " + std::to_string(claimed) + " bytes, above the cap of " + Bytes(cap));
    if (expectedSize && claimed != *expectedSize)
        throw EZstdError("zstd: the frame claims " + std::to_string(claimed) + " bytes, " + Bytes(*expectedSize) + " expected");
}

}  // namespace

std::size_t ZstdChecked(std::size_t result, const char* doing) {
    if (ZSTD_isError(result)) throw EZstdError(std::string("zstd: ") + doing + ": " + ZSTD_getErrorName(result));
    return result;
}

// zstd's macro rather than its function, which sits in the compressor the launcher does not link.
std::size_t ZstdCompressBound(std::size_t size) {
    const std::size_t bound = ZSTD_COMPRESSBOUND(size);
    return bound != 0 ? bound : SIZE_MAX;
}

std::vector<uint8_t> ZstdDecompress(const uint8_t* frame, std::size_t size, std::optional<std::size_t> expectedSize,
                                    std::size_t cap) {
    if (expectedSize && *expectedSize > cap)
        throw EZstdError("zstd: " + Bytes(*expectedSize) + " expected, above the cap of " + Bytes(cap));
    CheckClaimedSize(frame, size, expectedSize, cap);
    const std::size_t limit = expectedSize ? *expectedSize : cap;
    // One byte beyond the limit shows a frame that holds more.
    const std::size_t room = limit < SIZE_MAX ? limit + 1 : limit;
    const TDecompressor context = NewDecompressor();
    std::vector<uint8_t> content(expectedSize ? room : std::min(room, FirstOutputSize));
    ZSTD_inBuffer input{frame, size, 0};
    std::size_t produced = 0;
    for (;;) {
        if (produced == content.size()) content.resize(std::min(room, content.size() * 2));
        ZSTD_outBuffer output{content.data(), content.size(), produced};
        const std::size_t hint = ZstdChecked(ZSTD_decompressStream(context.get(), &output, &input), "decompressing");
        produced = output.pos;
        if (produced > limit) throw EZstdError("zstd: the frame holds more than " + Bytes(limit));
        if (hint == 0) break;
        if (input.pos == input.size && produced < content.size()) throw EZstdError("zstd: the frame is cut short");
    }
    if (input.pos != input.size) throw EZstdError("zstd: data follows the frame");
    if (expectedSize && produced != *expectedSize)
        throw EZstdError("zstd: the frame holds " + Bytes(produced) + ", " + Bytes(*expectedSize) + " expected");
    content.resize(produced);
    return content;
}

}  // namespace orvex
