#include "base/Path.h"

#include "base/Os.h"

#include <climits>

namespace orvex::detail {

std::size_t LocalLongestPath() { return PATH_MAX - 1; }

}  // namespace orvex::detail
