#include "update/FolderLock.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "update/StateFolder.h"

namespace orvex {

std::string InstanceKey(uint64_t volume, uint64_t file) {
    return Format("OrvexUpdater.%016llx.%016llx", static_cast<unsigned long long>(volume),
                  static_cast<unsigned long long>(file));
}

std::string LockFileOf(const std::string& folder) { return JoinPath(EnsureStateFolder(folder), LockFileName); }

void CannotLock(const std::string& path, int errorCode) {
    throw EInOutError(errorCode, "Cannot lock " + path + ": " + os::ErrorText(errorCode));
}

}  // namespace orvex
