#pragma once
// Reading single zstd frames in memory: the chunk store's chunks and the chunk index. A frame read
// is untrusted: what it claims to hold is never allocated before it has been produced, and output is
// bounded by the caller's cap. Writing them is formats/encode/ZstdCompress.h, kept apart so that
// the launcher links only zstd's decoder.
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

// The highest level a writer may use: the one whose window the reader below takes (levels above
// need up to 128 MiB).
inline constexpr int HighestZstdLevel = 19;
// log2 of the largest window a frame may ask the reader for: what HighestZstdLevel uses at most.
inline constexpr int ZstdWindowLogLimit = 23;

// Passes a zstd result on; raises EZstdError for an error code, saying what was being done, then
// zstd's words.
std::size_t ZstdChecked(std::size_t result, const char* doing);

// The largest frame a writer makes of size bytes in one go (SIZE_MAX for more than zstd takes).
std::size_t ZstdCompressBound(std::size_t size);

// The content of exactly one frame (nothing may follow it). Raises EZstdError, saying why, for
// data that is not one complete valid frame, content above cap bytes, content other than
// expectedSize bytes when that is given, or a window above ZstdWindowLogLimit.
std::vector<uint8_t> ZstdDecompress(const uint8_t* frame, std::size_t size, std::optional<std::size_t> expectedSize,
                                    std::size_t cap);

}  // namespace orvex
