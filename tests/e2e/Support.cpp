#include "Support.h"

#include "base/Os.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
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

std::string ScratchDir(const std::string& name) {
    const std::string dir = InServerDir("scratch") + os::PathDelim + name + os::PathDelim;
    if (!os::ForceDirectories(dir)) throw std::runtime_error("cannot create " + dir);
    return dir;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(os::NativePath(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(os::NativePath(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace orvex::test
