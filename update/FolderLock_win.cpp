#include "update/FolderLock.h"

#include "base/Win32_win.h"

#include <windows.h>

namespace orvex {

struct TFolderLock::TState {
    win32::THandle Mutex;
};

namespace {

// Letters beyond ASCII as the system folds them, so every spelling of the folder gives one key.
std::string FoldedFolder(const std::string& folder) {
    std::string folded = folder;
    if (!folded.empty()) ::CharLowerBuffA(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

}  // namespace

TFolderLock::TFolderLock(const std::string& folder) : FKey(InstanceKey(FoldedFolder(folder))), FState(new TState) {
    ::SetLastError(ERROR_SUCCESS);
    const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, ("Local\\" + FKey).c_str());
    const DWORD error = ::GetLastError();
    FState->Mutex = win32::THandle(mutex);
    // The mutex's existence is the lock: whoever created it holds the folder until every handle closes.
    FHeld = FState->Mutex.Valid() && error != ERROR_ALREADY_EXISTS;
}

TFolderLock::~TFolderLock() = default;

}  // namespace orvex
