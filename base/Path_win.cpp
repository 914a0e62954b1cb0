#include "base/Path.h"

#include "base/Win32_win.h"

namespace orvex::detail {

std::size_t LocalLongestPath() { return MAX_PATH - 1; }

}  // namespace orvex::detail
