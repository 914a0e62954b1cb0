#include "base/Os.h"

#include "base/Exceptions.h"
#include "base/Win32_win.h"

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

std::string ErrorText(int code) { return win32::ErrorCodeText(static_cast<DWORD>(code)); }

std::string TempNameBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++);
}

std::string TempFolder() {
    char buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
    std::string result = length && length < sizeof buffer ? std::string(buffer, length) : GetCurrentDir();
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
    return result;
}

namespace {

// The name in the ANSI code page; representable only when every character has its own byte
// there, without the look-alike substitutes a plain conversion would pick.
TFolderEntry Entry(const WIN32_FIND_DATAW& data) {
    TFolderEntry entry;
    entry.IsFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    BOOL usedDefault = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data.cFileName, -1, nullptr, 0, nullptr,
                                             &usedDefault);
    if (length > 0) {
        entry.Name.resize(static_cast<std::size_t>(length));
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data.cFileName, -1, entry.Name.data(), length, nullptr,
                              &usedDefault);
        entry.Name.resize(static_cast<std::size_t>(length - 1));
    }
    entry.Representable = length > 0 && !usedDefault;
    return entry;
}

}  // namespace

bool ListFolder(const std::string& path, std::vector<TFolderEntry>& entries) {
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    WIN32_FIND_DATAW data{};
    const win32::TFindHandle find(::FindFirstFileW(win32::Widen(pattern + "*", CP_ACP).c_str(), &data));
    entries.clear();
    if (!find.Valid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back(Entry(data));
    } while (::FindNextFileW(find.Get(), &data));
    return true;
}

}  // namespace orvex::os
