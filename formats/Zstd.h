#pragma once
// Single zstd frames in memory: the chunk store's chunks and the chunk index. A frame read is
// untrusted: what it claims to hold is never allocated before it has been produced, and output is
// bounded by the caller's cap.
#include "base/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvex {

class EZstdError : public Exception {
public:
    using Exception::Exception;
};

// Fast, and compresses game data nearly as well as the slow levels.
inline constexpr int DefaultZstdLevel = 3;
// The highest level whose window the reader below takes (levels above need up to 128 MiB).
inline constexpr int HighestZstdLevel = 19;
// log2 of the largest window a frame may ask the reader for: what HighestZstdLevel uses at most.
inline constexpr int ZstdWindowLogLimit = 23;

// One frame with a content checksum and the content size. Raises EZstdError for a level outside
// zstd's negative (fastest) levels to HighestZstdLevel.
std::vector<uint8_t> ZstdCompress(const uint8_t* data, std::size_t size, int level = DefaultZstdLevel);

// The largest frame ZstdCompress makes of size bytes.
std::size_t ZstdCompressBound(std::size_t size);

// The content of exactly one frame (nothing may follow it). Raises EZstdError, saying why, for
// data that is not one complete valid frame, content above cap bytes, content other than
// expectedSize bytes when that is given, or a window above ZstdWindowLogLimit.
std::vector<uint8_t> ZstdDecompress(const uint8_t* frame, std::size_t size, std::optional<std::size_t> expectedSize,
                                    std::size_t cap);

}  // namespace orvex
