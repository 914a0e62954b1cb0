#include "base/FsPath.h"

#include "base/Os.h"

namespace orvex {

std::filesystem::path FsPath(const std::string& path) { return os::NativePath(path); }

std::string FromFsPath(const std::filesystem::path& path) { return path.string(); }

}  // namespace orvex
