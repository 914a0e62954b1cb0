#pragma once
// Symbolic links for tests. Under Wine, CreateSymbolicLinkW claims success and makes nothing, so
// there the links are Unix links made by ln, which Wine runs from a Windows program.
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace orvex::test {

#ifdef _WIN32
inline bool UnderWine() { return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

inline std::string UnixPath(const std::filesystem::path& path) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix =
        reinterpret_cast<ToUnix>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* name = toUnix ? toUnix(path.wstring().c_str()) : nullptr;
    const std::string result = name ? name : "";
    if (name) ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// Runs a Unix program through Wine. Wine neither waits for one nor reports its exit code, so the
// callers wait for its effect (Done).
template <class Done>
inline bool RunUnix(std::string commandLine, Done done) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int wait = 0; wait < 500; ++wait) {
        if (done()) return true;
        ::Sleep(10);
    }
    return false;
}
#else
inline bool UnderWine() { return false; }
#endif

// Makes link point to target (an existing file or folder); false when the system cannot.
inline bool MakeLink(const std::filesystem::path& target, const std::filesystem::path& link) {
#ifdef _WIN32
    if (UnderWine()) {
        return RunUnix("Z:\\bin\\ln -s \"" + UnixPath(target) + "\" \"" + UnixPath(link.parent_path()) + "/" +
                       link.filename().string() + "\"",
                       [&] { return std::filesystem::exists(link); });
    }
#endif
    std::error_code error;
    if (std::filesystem::is_directory(target))
        std::filesystem::create_directory_symlink(target, link, error);
    else
        std::filesystem::create_symlink(target, link, error);
    return !error;
}

// Removes a link that the program left, so the scratch folder can go (Wine cannot remove a Unix
// link to a folder).
inline void RemoveLeftLink(const std::filesystem::path& link) {
#ifdef _WIN32
    if (UnderWine()) {
        RunUnix("Z:\\bin\\rm -f \"" + UnixPath(link.parent_path()) + "/" + link.filename().string() + "\"",
                [&] { return !std::filesystem::exists(link); });
        return;
    }
#endif
    std::error_code error;
    std::filesystem::remove(link, error);
}

}  // namespace orvex::test
