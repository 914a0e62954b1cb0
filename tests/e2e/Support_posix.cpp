#include "Support.h"

namespace orvex::test {

std::string HostPath(const std::string& unixPath) { return unixPath; }

bool ReadsInBlocksOf1024() { return false; }

bool SeesCutChunkedBodies() { return true; }

// libcurl keeps no cache.
std::optional<bool> InInternetCache(const std::string&) { return std::nullopt; }

// Renaming over a file that another process holds open works here.
std::unique_ptr<FileHolder> HoldOpenElsewhere(const std::string&) { return nullptr; }

}  // namespace orvex::test
