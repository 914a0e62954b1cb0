#include "base/Os.h"

#include "base/Exceptions.h"

#include <windows.h>
// Our names, not the ANSI/wide macros of <windows.h>: callers that do not include it link to these.
#undef CopyFile
#undef DeleteFile
#undef ReplaceFile

#include <atomic>

namespace orvex::os {

std::string NativePath(const std::string& path) { return path; }

std::string GetCurrentDir() {
    char buffer[MAX_PATH + 1];
    const DWORD length = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
}

void SetCurrentDir(const std::string& path) {
    if (!::SetCurrentDirectoryA(path.c_str())) RaiseInOutError(static_cast<int>(::GetLastError()));
}

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool ForceDirectories(const std::string& path) {
    std::string dir = path;
    while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    if (dir.empty()) return false;
    if (DirectoryExists(dir)) return true;
    const auto delim = dir.find_last_of("\\/");
    if (delim != std::string::npos && delim > 0 && dir[delim - 1] != ':' &&
        !ForceDirectories(dir.substr(0, delim)))
        return false;
    return ::CreateDirectoryA(dir.c_str(), nullptr) != 0 || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool DeleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool RemoveDir(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != 0; }

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists) {
    return ::CopyFileA(source.c_str(), target.c_str(), failIfExists) != 0;
}

bool ReplaceFile(const std::string& source, const std::string& target) {
    return ::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int LastError() { return static_cast<int>(::GetLastError()); }

std::string ErrorText(int code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : "System error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result;
}

std::string TempNameBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++);
}

}  // namespace orvex::os
