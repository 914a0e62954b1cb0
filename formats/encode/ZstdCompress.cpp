#include "formats/encode/ZstdCompress.h"

#include <zstd.h>

#include <memory>
#include <string>

namespace orvex {

namespace {

struct TFreeCompressor {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
using TCompressor = std::unique_ptr<ZSTD_CCtx, TFreeCompressor>;

}  // namespace

std::vector<uint8_t> ZstdCompress(const uint8_t* data, std::size_t size, int level) {
    if (level < ZSTD_minCLevel() || level > HighestZstdLevel)
        throw EZstdError("zstd: compression level " + std::to_string(level) + " is outside " +
                         std::to_string(ZSTD_minCLevel()) + ".." + std::to_string(HighestZstdLevel));
    TCompressor context(ZSTD_createCCtx());
    if (!context) throw EZstdError("zstd: no memory for a compressor");
    ZstdChecked(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level), "setting the level");
    ZstdChecked(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1), "asking for a checksum");
    std::vector<uint8_t> frame(ZSTD_compressBound(size));
    frame.resize(ZstdChecked(ZSTD_compress2(context.get(), frame.data(), frame.size(), data, size), "compressing"));
    return frame;
}

}  // namespace orvex
