#include "base/CodePage.h"

#include <cerrno>
#include <iconv.h>
#include <memory>

namespace orvex {
namespace {

struct IconvCloser {
    void operator()(void* handle) const { ::iconv_close(static_cast<iconv_t>(handle)); }
};
using TIconv = std::unique_ptr<void, IconvCloser>;

// glibc's name of a Windows code page: CP1251, CP866, CP037, ...
std::string IconvName(unsigned codePage) {
    const std::string number = std::to_string(codePage);
    return "CP" + std::string(number.size() < 3 ? 3 - number.size() : 0, '0') + number;
}

TIconv OpenConversion(const std::string& to, const std::string& from) {
    const iconv_t handle = ::iconv_open(to.c_str(), from.c_str());
    return TIconv(handle == reinterpret_cast<iconv_t>(-1) ? nullptr : handle);
}

enum class TConverted { Whole, Incomplete, Refused };

// text through the conversion into out; a character the target lacks, or one the source does not
// have, refuses the whole text.
TConverted Convert(const TIconv& conversion, const std::string& text, std::string& out) {
    const auto handle = static_cast<iconv_t>(conversion.get());
    static_cast<void>(::iconv(handle, nullptr, nullptr, nullptr, nullptr));
    std::string input = text;
    out.assign(text.size() * 4 + 4, '\0');
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* at = out.data();
    std::size_t outLeft = out.size();
    if (::iconv(handle, &in, &inLeft, &at, &outLeft) == static_cast<std::size_t>(-1))
        return errno == EINVAL ? TConverted::Incomplete : TConverted::Refused;
    if (::iconv(handle, nullptr, nullptr, &at, &outLeft) == static_cast<std::size_t>(-1)) return TConverted::Refused;
    out.resize(out.size() - outLeft);
    return TConverted::Whole;
}

std::optional<std::string> Converted(const std::string& to, const std::string& from, const std::string& text) {
    const TIconv conversion = OpenConversion(to, from);
    std::string out;
    if (!conversion || Convert(conversion, text, out) != TConverted::Whole) return std::nullopt;
    return out;
}

}  // namespace

namespace detail {

// Each byte alone: a lead byte of a longer character leaves its conversion incomplete.
TCodePageKind KindOfCodePage(unsigned codePage) {
    const TIconv toUtf8 = OpenConversion("UTF-8", IconvName(codePage));
    if (!toUtf8 || !OpenConversion(IconvName(codePage), "UTF-8")) return TCodePageKind::Unknown;
    bool asciiBased = true;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        std::string out;
        const TConverted result = Convert(toUtf8, one, out);
        if (result == TConverted::Incomplete) return TCodePageKind::MultiByte;
        if (byte < 0x80 && (result != TConverted::Whole || out != one)) asciiBased = false;
    }
    return asciiBased ? TCodePageKind::SingleByte : TCodePageKind::NotAsciiBased;
}

}  // namespace detail

std::optional<std::string> LocalNameIn(unsigned codePage, const std::string& name) {
    return Converted(IconvName(codePage), "UTF-8", name);
}

std::optional<std::string> LocalNameFrom(unsigned codePage, const std::string& text) {
    return Converted("UTF-8", IconvName(codePage), text);
}

std::string Utf8Name(const std::string& name) { return name; }

unsigned UnnamedListCodePage() { return DefaultListCodePage; }

std::string LocalNameEncoding() { return "UTF-8"; }

}  // namespace orvex
