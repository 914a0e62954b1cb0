#pragma once
// Writing single zstd frames: the publisher's chunks and chunk index. A library of its own, apart
// from the reader in formats/Zstd.h, so that the launcher links only zstd's decoder.
#include "formats/Zstd.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvex {

// Fast, and compresses game data nearly as well as the slow levels.
inline constexpr int DefaultZstdLevel = 3;

// One frame with a content checksum and the content size. Raises EZstdError for a level outside
// zstd's negative (fastest) levels to HighestZstdLevel.
std::vector<uint8_t> ZstdCompress(const uint8_t* data, std::size_t size, int level = DefaultZstdLevel);

}  // namespace orvex
