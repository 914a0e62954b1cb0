#include "update/FolderLock.h"

#include "base/Win32_win.h"

#include <windows.h>

namespace orvex {

struct TFolderLock::TState {
    win32::THandle File;
};

namespace {

// Any process may open the file (a second launcher needs its identity to find the first one's
// window), none may delete it while it is open. The lock itself is a byte-range lock: share modes
// are seen only by the processes of one Wine server, while Wine takes LockFileEx as a byte-range
// lock on the Unix file, which a native orvex-update and a launcher under another prefix see too.
HANDLE OpenLockFile(const std::string& path) {
    return ::CreateFileW(win32::Widen(path, CP_ACP).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The volume the file is on, as far as it tells the folder apart. Wine makes a volume's serial
// number up from the drive letter the path goes through, so there two drive letters of one folder
// would differ; the file number (the Unix inode) then stands alone.
uint64_t VolumeOf(const BY_HANDLE_FILE_INFORMATION& identity) {
    const bool underWine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return underWine ? 0 : identity.dwVolumeSerialNumber;
}

}  // namespace

TFolderLock::TFolderLock(const std::string& folder) : FState(new TState) {
    const std::string path = LockFileOf(folder);
    FState->File = win32::THandle(OpenLockFile(path));
    if (!FState->File.Valid()) CannotLock(path, static_cast<int>(::GetLastError()));
    BY_HANDLE_FILE_INFORMATION identity{};
    if (!::GetFileInformationByHandle(FState->File.Get(), &identity)) CannotLock(path, static_cast<int>(::GetLastError()));
    FKey = InstanceKey(VolumeOf(identity), (static_cast<uint64_t>(identity.nFileIndexHigh) << 32) | identity.nFileIndexLow);
    // Released by the system when the handle closes or the process ends.
    OVERLAPPED firstByte{};
    if (::LockFileEx(FState->File.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &firstByte))
        FHeld = true;
    else if (::GetLastError() != ERROR_LOCK_VIOLATION) CannotLock(path, static_cast<int>(::GetLastError()));
}

TFolderLock::~TFolderLock() = default;

}  // namespace orvex
