#include "base/Disk.h"

namespace orvex {

bool TFreeSpaceGuard::Admit(uint64_t count) {
    FWritten += count;
    if (FWritten < FNextCheck) return true;
    FNextCheck = FWritten + FreeSpaceCheckInterval;
    const std::optional<uint64_t> free = os::FreeSpace(FPath);
    return !free || *free >= FReserve + FreeSpaceCheckInterval;
}

}  // namespace orvex
