#include "base/CodePage.h"

namespace orvex {

std::optional<std::string> UnusableCodePage(unsigned codePage) {
    const std::string name = "code page " + std::to_string(codePage);
    switch (detail::KindOfCodePage(codePage)) {
    case detail::TCodePageKind::SingleByte:
        return std::nullopt;
    case detail::TCodePageKind::Unknown:
        return name + " is not known to this system";
    case detail::TCodePageKind::MultiByte:
        return name + " is not a single-byte code page";
    case detail::TCodePageKind::NotAsciiBased:
        return name + " does not keep ASCII as it is";
    }
    return name + " is not known to this system";
}

std::string PercentEncodedPath(const std::string& path) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += Hex[byte >> 4];
            encoded += Hex[byte & 0xF];
        }
    }
    return encoded;
}

}  // namespace orvex
