#include "base/Os.h"

#include "base/Exceptions.h"
#include "base/Win32_win.h"

#include <windows.h>
// Our names, not the ANSI/wide macros of <windows.h>: callers that do not include it link to these.
#undef CopyFile
#undef DeleteFile
#undef ReplaceFile

#include <atomic>
#include <string>
#include <utility>

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

// A link is asked about itself, not what it points to: the rename replaces the link.
bool CanReplace(const std::string& path) {
    const win32::THandle file(::CreateFileA(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file.Valid() || ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
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
    return target + "." + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++) + TempSuffix;
}

namespace {

// Links are recognised by their reparse point, and otherwise by where the entry really is: Wine
// shows a Unix link to a file as an ordinary file (and removing or renaming it acts on what it
// points to), so an entry whose final path is not its folder's final path plus its own name is a
// link too. Opening follows the link; FILE_FLAG_OPEN_REPARSE_POINT does not help under Wine.
// What call(buffer, size) writes, for the calls that answer the size they need when the buffer is too
// small, and 0 on failure (then empty).
template <class Call>
std::wstring GrownString(Call call) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return buffer.substr(0, length);
        buffer.resize(length);
    }
}

std::wstring FinalPathOf(HANDLE handle) {
    return GrownString([handle](wchar_t* buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(handle, buffer, size, FILE_NAME_NORMALIZED);
    });
}

std::wstring FinalPath(const std::wstring& path) {
    const win32::THandle handle(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle.Valid() ? FinalPathOf(handle.Get()) : std::wstring();
}

std::wstring Child(const std::wstring& folder, const std::wstring& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// An entry that cannot be opened counts as a link: treating it as one never reaches past it.
bool IsLinkAt(const std::wstring& path, DWORD attributes, const std::wstring& folderFinalPath, const std::wstring& name) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    const std::wstring final = FinalPath(path);
    return final.empty() || folderFinalPath.empty() || !SamePath(final, Child(folderFinalPath, name));
}

// The folder a path names its entry in, and the entry's name.
std::pair<std::wstring, std::wstring> FolderAndName(const std::wstring& path) {
    const auto delim = path.find_last_of(L"\\/");
    if (delim == std::wstring::npos) return {L".", path};
    return {path.substr(0, delim + 1), path.substr(delim + 1)};
}

// Whether a handle's final path is path's own full name: then nothing on the way is a link. Other
// spellings (short names, UNC) are not recognised and answer false.
bool NamesItself(const std::wstring& final, const std::wstring& path) {
    static const std::wstring localPrefix = L"\\\\?\\";
    if (final.compare(0, localPrefix.size(), localPrefix) != 0) return false;
    const std::wstring full = GrownString(
        [&path](wchar_t* buffer, DWORD size) { return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
    return !full.empty() && SamePath(final.substr(localPrefix.size()), full);
}

bool IsLinkW(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    std::wstring trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == L'\\' || trimmed.back() == L'/')) trimmed.pop_back();
    const auto [folder, name] = FolderAndName(trimmed);
    return IsLinkAt(trimmed, attributes, FinalPath(folder), name);
}

// A link to a file goes by renaming an empty file of ours over it, which replaces the link itself
// (under Wine as on Windows), and deleting that. A link to a folder goes with RemoveDirectoryW,
// which Windows applies to the link; Wine refuses it for a Unix link, and then the link stays.
bool RemoveLinkW(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ::RemoveDirectoryW(path.c_str()) != 0;
    static std::atomic<unsigned> counter{0};
    const std::string suffix = "." + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++) + TempSuffix;
    const std::wstring stand = path + win32::Widen(suffix, CP_ACP);
    {
        const win32::THandle created(::CreateFileW(stand.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created.Valid()) return false;
    }
    if (!::MoveFileExW(stand.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(stand.c_str());
        return false;
    }
    return ::DeleteFileW(path.c_str()) != 0;
}

bool RemovePlainFile(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::DeleteFileW(path.c_str()) != 0;
}

// folderFinalPath: where the folder really is, to recognise the links inside.
bool RemoveFolderContent(const std::wstring& folder, const std::wstring& folderFinalPath) {
    bool removed = true;
    WIN32_FIND_DATAW data{};
    const win32::TFindHandle find(::FindFirstFileW(Child(folder, L"*").c_str(), &data));
    if (!find.Valid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = Child(folder, name);
        const DWORD attributes = data.dwFileAttributes;
        if (IsLinkAt(path, attributes, folderFinalPath, name))
            removed = RemoveLinkW(path, attributes) && removed;
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            removed = RemoveFolderContent(path, FinalPath(path)) && ::RemoveDirectoryW(path.c_str()) && removed;
        else
            removed = RemovePlainFile(path, attributes) && removed;
    } while (::FindNextFileW(find.Get(), &data));
    return removed;
}

}  // namespace

bool IsLink(const std::string& path) { return IsLinkW(win32::Widen(path, CP_ACP)); }

TEntryKind EntryKind(const std::string& path) {
    const std::wstring wide = win32::Widen(path, CP_ACP);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return TEntryKind::Missing;
    if (IsLinkW(wide)) return TEntryKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return TEntryKind::Folder;
    return attributes & FILE_ATTRIBUTE_DEVICE ? TEntryKind::Other : TEntryKind::File;
}

// Wine shows a Unix FIFO or device as an ordinary file, and a Unix link to a file as its target: one
// handle tells both apart, by its type and by a final path that names another place than the path.
// (Every open costs a round trip to Wine's server: the full check asks this of every file.)
bool IsRegularFile(const std::string& path) {
    const std::wstring wide = win32::Widen(path, CP_ACP);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    constexpr DWORD NotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & NotAFile)) return false;
    const win32::THandle file(::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK) return false;
    const std::wstring final = FinalPathOf(file.Get());
    if (final.empty()) return false;
    if (NamesItself(final, wide)) return true;  // no link on the way, the usual case: one open less
    const auto [folder, name] = FolderAndName(wide);
    const std::wstring folderFinal = FinalPath(folder);
    return !folderFinal.empty() && SamePath(final, Child(folderFinal, name));
}

bool RemoveLink(const std::string& path) {
    const std::wstring wide = win32::Widen(path, CP_ACP);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && IsLinkW(wide) && RemoveLinkW(wide, attributes);
}

// Not SHFileOperation: it deletes what a link inside the folder points to.
bool DeleteFolder(const std::string& path) {
    if (!DirectoryExists(path)) return false;
    std::wstring folder = win32::Widen(path, CP_ACP);
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (IsLinkW(folder)) return RemoveLinkW(folder, attributes);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    return RemoveFolderContent(folder, FinalPath(folder)) && ::RemoveDirectoryW(folder.c_str());
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

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    static_cast<void>(localtime_s(&local, &when));
    return local;
}

}  // namespace orvex::os
