#include "formats/Zstd.h"

#include <zstd.h>

#include <algorithm>
#include <memory>
#include <string>

namespace orvex {

namespace {

struct TFreeCompressor {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct TFreeDecompressor {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using TCompressor = std::unique_ptr<ZSTD_CCtx, TFreeCompressor>;
using TDecompressor = std::unique_ptr<ZSTD_DCtx, TFreeDecompressor>;

// Output grows by doubling from here, so a small frame claiming much costs little before it fails.
constexpr std::size_t FirstOutputSize = 64 * 1024;

std::string Bytes(std::size_t count) { return std::to_string(count) + " bytes"; }

// Raises for a zstd error code, with the library's words after ours.
std::size_t Checked(std::size_t result, const char* doing) {
    if (ZSTD_isError(result)) throw EZstdError(std::string("zstd: ") + doing + ": " + ZSTD_getErrorName(result));
    return result;
}

TDecompressor NewDecompressor() {
    TDecompressor context(ZSTD_createDCtx());
    if (!context) throw EZstdError("zstd: no memory for a decompressor");
    Checked(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, ZstdWindowLogLimit), "limiting the window");
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

std::size_t ZstdCompressBound(std::size_t size) { return ZSTD_compressBound(size); }

std::vector<uint8_t> ZstdCompress(const uint8_t* data, std::size_t size, int level) {
    if (level < ZSTD_minCLevel() || level > HighestZstdLevel)
        throw EZstdError("zstd: compression level " + std::to_string(level) + " is outside " +
                         std::to_string(ZSTD_minCLevel()) + ".." + std::to_string(HighestZstdLevel));
    TCompressor context(ZSTD_createCCtx());
    if (!context) throw EZstdError("zstd: no memory for a compressor");
    Checked(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level), "setting the level");
    Checked(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1), "asking for a checksum");
    std::vector<uint8_t> frame(ZSTD_compressBound(size));
    frame.resize(Checked(ZSTD_compress2(context.get(), frame.data(), frame.size(), data, size), "compressing"));
    return frame;
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
        const std::size_t hint = Checked(ZSTD_decompressStream(context.get(), &output, &input), "decompressing");
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
