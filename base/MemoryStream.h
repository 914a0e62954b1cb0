#pragma once
// A stream over bytes held in memory.
#include "base/Stream.h"

#include <cstdint>
#include <vector>

namespace orvex {

class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    // Writes at the position, growing the bytes when it passes their end.
    std::size_t Write(const void* buffer, std::size_t count) override;
    // Any position from 0 on; a position beyond the end grows the bytes only when written.
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

    const std::vector<uint8_t>& Bytes() const { return FBytes; }

private:
    std::vector<uint8_t> FBytes;
    std::size_t FPosition = 0;
};

}  // namespace orvex
