#include "update/FolderLock.h"

#include "base/FileDescriptor_posix.h"
#include "base/Os.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace orvex {

struct TFolderLock::TState {
    FileDescriptor File;
};

namespace {

// A write lock on the file's first byte, owned by this open file (so two locks in one process
// exclude each other too) and gone when it closes or the process dies. A byte-range lock rather
// than flock: Wine takes LockFileEx as such a lock on the Unix file, and flock does not see it.
bool LockFirstByte(int fd) {
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

}  // namespace

TFolderLock::TFolderLock(const std::string& folder) {
    const std::string path = LockFileOf(folder);
    FState.reset(new TState{FileDescriptor(::open(os::NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666))});
    if (!FState->File.Valid()) CannotLock(path, errno);
    struct stat identity {};
    if (::fstat(FState->File.Get(), &identity) != 0) CannotLock(path, errno);
    FKey = InstanceKey(identity.st_dev, identity.st_ino);
    if (LockFirstByte(FState->File.Get())) FHeld = true;
    else if (errno != EAGAIN && errno != EACCES) CannotLock(path, errno);
}

TFolderLock::~TFolderLock() = default;

}  // namespace orvex
