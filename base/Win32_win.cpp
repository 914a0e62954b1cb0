#include "base/Win32_win.h"

#include "base/Exceptions.h"

namespace orvex::win32 {

namespace {

// FormatMessage's text for the code as it comes, with its line break; empty when there is none.
std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    return result;
}

}  // namespace

std::wstring Widen(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string ErrorCodeText(DWORD code) {
    std::string result = SystemMessage(code);
    if (result.empty()) return "System error " + std::to_string(static_cast<int>(code));
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result;
}

std::string HResultText(HRESULT hr) {
    std::string result = SystemMessage(static_cast<DWORD>(hr));
    while (!result.empty() && (static_cast<unsigned char>(result.back()) <= ' ' || result.back() == '.'))
        result.pop_back();
    if (result.empty()) {
        result = Format("OLE error %.8X", static_cast<unsigned>(hr));
    }
    return result;
}

bool RegisterWindowClass(WNDCLASSEXW windowClass) {
    windowClass.cbSize = sizeof windowClass;
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace orvex::win32
