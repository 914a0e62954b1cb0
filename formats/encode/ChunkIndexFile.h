#pragma once
// The chunk index as the publisher writes it (formats/ChunkIndex.h has its format and reader).
#include "formats/ChunkIndex.h"

#include <cstdint>
#include <vector>

namespace orvex {

// files.idx.zst: the index's text in one zstd frame. Raises std::invalid_argument as
// FormatChunkIndexText does.
std::vector<uint8_t> FormatChunkIndex(const TChunkIndex& index);

}  // namespace orvex
