#include "base/MemoryStream.h"

#include "base/Exceptions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace orvex {

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    if (FPosition >= FBytes.size()) return 0;
    const std::size_t got = std::min(count, FBytes.size() - FPosition);
    std::memcpy(buffer, FBytes.data() + FPosition, got);
    FPosition += got;
    return got;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    if (FBytes.size() < FPosition + count) FBytes.resize(FPosition + count);
    std::memcpy(FBytes.data() + FPosition, buffer, count);
    FPosition += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    const int64_t base = origin == SeekOrigin::Beginning ? 0
                         : origin == SeekOrigin::Current ? static_cast<int64_t>(FPosition)
                                                         : static_cast<int64_t>(FBytes.size());
    const int64_t position = base + offset;
    if (position < 0 || static_cast<uint64_t>(position) > SIZE_MAX) throw EStreamError(SInvalidStreamOperation);
    FPosition = static_cast<std::size_t>(position);
    return position;
}

}  // namespace orvex
