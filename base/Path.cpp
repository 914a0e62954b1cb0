#include "base/Path.h"

#include "base/Os.h"

namespace orvex {

namespace {

constexpr const char* Delimiters = "\\/";

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& relative) {
    if (dir.empty()) return relative;
    const char last = dir.back();
    return last == '\\' || last == '/' ? dir + relative : dir + os::PathDelim + relative;
}

bool StaysInside(const std::string& path) {
    if (path.empty() || path.find(':') != std::string::npos) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find_first_of(Delimiters, start);
        const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty() || name == "." || name == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool IsNameInFolder(const std::string& name) {
    return name.find_first_of(Delimiters) == std::string::npos && StaysInside(name);
}

}  // namespace orvex
