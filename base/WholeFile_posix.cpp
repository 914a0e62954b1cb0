#include "base/WholeFile.h"

#include "base/Exceptions.h"
#include "base/FileDescriptor_posix.h"
#include "base/Os.h"
#include "base/TempFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

[[noreturn]] void RaiseWriteError(const std::string& path, int code) {
    throw EFCreateError(Format(SFCreateError, path.c_str(), os::ErrorText(code).c_str()));
}

bool WriteAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// The file a replacement must go to: the target of a link, so the link itself stays.
std::string ResolvedTarget(const std::string& nativePath) {
    char resolved[PATH_MAX];
    if (::realpath(nativePath.c_str(), resolved)) return resolved;
    return nativePath;
}

std::string FolderOf(const std::string& nativePath) {
    const auto slash = nativePath.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : nativePath.substr(0, slash);
}

// The rename is durable only once the folder's entry is on the disk. File systems that cannot
// flush a folder (EINVAL) keep their renames in order by themselves.
bool SyncFolder(const std::string& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) return false;
    return ::fsync(dir.Get()) == 0 || errno == EINVAL;
}

}  // namespace

std::optional<std::string> ReadFileWhole(const std::string& path) {
    FileDescriptor file(::open(os::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    const auto refuse = [&](int code) {
        throw EFOpenError(Format(SFOpenError, path.c_str(), os::ErrorText(code).c_str()));
    };
    if (!file.Valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        refuse(errno);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got == 0) return bytes;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) refuse(errno);
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

void WriteFileWhole(const std::string& path, const std::string& bytes) {
    const std::string target = ResolvedTarget(os::NativePath(path));
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) RaiseWriteError(path, errno);
    if (exists && S_ISDIR(old.st_mode)) RaiseWriteError(path, EISDIR);
    if (exists && !S_ISREG(old.st_mode)) RaiseWriteError(path, EINVAL);
    // The folder would let a rename replace a file we may not write; such a file stays.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) RaiseWriteError(path, errno);

    TTempFile temp(target);
    const mode_t mode = exists ? (old.st_mode & 07777) : 0666;
    FileDescriptor file(::open(temp.Name().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file.Valid()) RaiseWriteError(path, errno);
    if (exists) {
        // The replacement keeps the owner (when we may give it) and the permissions of the old file.
        if (::fchown(file.Get(), old.st_uid, old.st_gid) != 0) { /* not ours to give away */ }
        if (::fchmod(file.Get(), mode) != 0) RaiseWriteError(path, errno);
    }
    if (!WriteAll(file.Get(), bytes) || ::fsync(file.Get()) != 0 || !file.Close()) RaiseWriteError(path, errno);
    if (::rename(temp.Name().c_str(), target.c_str()) != 0) RaiseWriteError(path, errno);
    temp.Placed();
    if (!SyncFolder(FolderOf(target))) RaiseWriteError(path, errno);
}

}  // namespace orvex
