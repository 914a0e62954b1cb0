#include "base/CodePage.h"

#include "base/Win32_win.h"

#include <string_view>

namespace orvex {
namespace {

// text in codePage as UTF-16; nothing when a byte has no character there.
std::optional<std::wstring> Decoded(UINT codePage, std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return wide;
}

// wide in codePage; nothing when codePage has no character of its own for one of them (a
// look-alike substitute would name another file).
std::optional<std::string> Encoded(UINT codePage, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    const bool utf8 = codePage == CP_UTF8;
    BOOL usedDefault = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* const defaulted = utf8 ? nullptr : &usedDefault;
    const int length = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, defaulted);
    if (length <= 0 || usedDefault) return std::nullopt;
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), length, nullptr, defaulted);
    if (usedDefault) return std::nullopt;
    return text;
}

std::optional<std::string> Recoded(UINT to, UINT from, const std::string& text) {
    const std::optional<std::wstring> wide = Decoded(from, text);
    if (!wide) return std::nullopt;
    return Encoded(to, *wide);
}

}  // namespace

namespace detail {

TCodePageKind KindOfCodePage(unsigned codePage) {
    // CP_ACP, CP_OEMCP, CP_MACCP and CP_THREAD_ACP stand for other code pages.
    CPINFO info{};
    if (codePage <= CP_THREAD_ACP || !::IsValidCodePage(codePage) || !::GetCPInfo(codePage, &info))
        return TCodePageKind::Unknown;
    if (info.MaxCharSize != 1) return TCodePageKind::MultiByte;
    std::string ascii(128, '\0');
    std::wstring expected(128, L'\0');
    for (std::size_t c = 0; c < ascii.size(); ++c) {
        ascii[c] = static_cast<char>(c);
        expected[c] = static_cast<wchar_t>(c);
    }
    const std::optional<std::wstring> decoded = Decoded(codePage, ascii);
    return decoded && *decoded == expected ? TCodePageKind::SingleByte : TCodePageKind::NotAsciiBased;
}

}  // namespace detail

std::optional<std::string> LocalNameIn(unsigned codePage, const std::string& name) {
    return Recoded(codePage, CP_ACP, name);
}

std::optional<std::string> LocalNameFrom(unsigned codePage, const std::string& text) {
    if (codePage == ::GetACP()) return text;
    return Recoded(CP_ACP, codePage, text);
}

std::string Utf8Name(const std::string& name) { return Recoded(CP_UTF8, CP_ACP, name).value_or(name); }

unsigned UnnamedListCodePage() { return ::GetACP(); }

std::string LocalNameEncoding() { return "code page " + std::to_string(::GetACP()); }

}  // namespace orvex
