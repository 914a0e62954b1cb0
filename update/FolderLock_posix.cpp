#include "update/FolderLock.h"

#include "base/Exceptions.h"
#include "base/FileDescriptor_posix.h"
#include "base/Os.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace orvex {

struct TFolderLock::TState {
    FileDescriptor Folder;
};

TFolderLock::TFolderLock(const std::string& folder)
    : FKey(InstanceKey(folder)),
      FState(new TState{FileDescriptor(::open(os::NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))}) {
    if (!FState->Folder.Valid()) RaiseInOutError(errno);
    // The lock goes with the descriptor, also when the process dies.
    if (::flock(FState->Folder.Get(), LOCK_EX | LOCK_NB) == 0) FHeld = true;
    else if (errno != EWOULDBLOCK) RaiseInOutError(errno);
}

TFolderLock::~TFolderLock() = default;

}  // namespace orvex
