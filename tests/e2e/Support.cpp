#include "Support.h"

#include "base/Os.h"

#include <cstdlib>
#include <stdexcept>

namespace orvex::test {
namespace {

std::string ServerDir() {
    const char* dir = std::getenv("ORVEX_E2E_DIR");
    if (!dir || !*dir) throw std::runtime_error("ORVEX_E2E_DIR is not set; run the tests through ctest");
    return dir;
}

std::string InServerDir(const std::string& name) { return HostPath(ServerDir() + "/" + name); }

}  // namespace

const std::string& ServerUrl() {
    static const std::string url = [] {
        std::string text = ReadWholeFile(InServerDir("url"));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.empty()) throw std::runtime_error("the test web server wrote no URL");
        return text;
    }();
    return url;
}

const std::string& WwwDir() {
    static const std::string dir = InServerDir("www") + std::string(1, os::PathDelim);
    return dir;
}

}  // namespace orvex::test
