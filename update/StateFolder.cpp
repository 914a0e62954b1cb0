#include "update/StateFolder.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"

namespace orvex {

std::string StateFolderOf(const std::string& baseDir) { return JoinPath(baseDir, StateFolderName); }

namespace {

[[noreturn]] void CannotMake(const std::string& folder) {
    const int code = os::LastError();
    throw EInOutError(code, "Cannot make the updater's folder " + folder + ": " + os::ErrorText(code));
}

}  // namespace

std::string EnsureStateFolder(const std::string& baseDir) {
    const std::string folder = StateFolderOf(baseDir);
    if (!EnsureRealFolder(folder)) CannotMake(folder);
    return folder;
}

}  // namespace orvex
