#include "Support.h"

namespace orvex::test {

std::string HostPath(const std::string& unixPath) { return unixPath; }

bool ReadsInBlocksOf1024() { return false; }

bool SeesCutChunkedBodies() { return true; }

}  // namespace orvex::test
