#include "Support.h"

namespace orvex::test {

// Wine maps the Unix root to drive Z:.
std::string HostPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool ReadsInBlocksOf1024() { return true; }

bool SeesCutChunkedBodies() { return false; }

}  // namespace orvex::test
