#include "base/Path.h"

#include <windows.h>

namespace orvex::detail {

std::size_t LocalLongestPath() { return MAX_PATH - 1; }

}  // namespace orvex::detail
