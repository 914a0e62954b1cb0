#include "formats/encode/ChunkIndexFile.h"

#include "formats/encode/ZstdCompress.h"

#include <string>

namespace orvex {

std::vector<uint8_t> FormatChunkIndex(const TChunkIndex& index) {
    const std::string text = FormatChunkIndexText(index);
    return ZstdCompress(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace orvex
