#include "base/Path.h"

#include "base/Os.h"

#include <climits>

namespace orvex {

std::filesystem::path FsPath(const std::string& path) { return os::NativePath(path); }

std::string FromFsPath(const std::filesystem::path& path) { return path.string(); }

}  // namespace orvex

namespace orvex::detail {

std::size_t LocalLongestPath() { return PATH_MAX - 1; }

}  // namespace orvex::detail
