#include "base/Profile.h"

#include "base/Exceptions.h"
#include "base/IniText.h"
#include "base/Os.h"
#include "base/TempFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include "base/FileDescriptor_posix.h"

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

bool ReadAll(int fd, std::string& content) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

bool WriteAll(int fd, const std::string& content) {
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t put = ::write(fd, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::optional<std::string> ReadFileText(const std::string& nativePath) {
    FileDescriptor file(::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) return std::nullopt;
    std::string content;
    if (!ReadAll(file.Get(), content)) return std::nullopt;
    return content;
}

// The file a write must replace: the target of a link, so the link itself stays.
std::string ResolvedTarget(const std::string& nativePath) {
    char resolved[PATH_MAX];
    if (::realpath(nativePath.c_str(), resolved)) return resolved;
    return nativePath;
}

// Writes the whole new text beside the file and renames it over, so the file is either the old or
// the new text, never a part of it. False leaves the file as it was.
bool ReplaceContent(const std::string& target, const std::string& content, const struct stat* old) {
    TTempFile temp(target);
    const mode_t mode = old ? (old->st_mode & 07777) : 0666;
    FileDescriptor file(::open(temp.Name().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file.Valid()) return false;
    if (old) {
        // Keep the owner and the permissions of the file being replaced; best effort for the owner.
        if (::fchown(file.Get(), old->st_uid, old->st_gid) != 0) { /* not ours to give away */ }
        if (::fchmod(file.Get(), mode) != 0) return false;
    }
    if (!WriteAll(file.Get(), content) || ::fsync(file.Get()) != 0 || !file.Close()) return false;
    return temp.Commit();
}

}  // namespace

std::string ReadProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
    if (const auto content = ReadFileText(os::NativePath(fileName)))
        if (auto value = ini::FindValue(*content, section, key)) return *value;
    return ini::CleanDefault(defaultValue);
}

void WriteProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value) {
    const auto refuse = [&] { throw EIniFileException(Format(SIniFileWriteError, fileName.c_str())); };
    const std::string target = ResolvedTarget(os::NativePath(fileName));
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    std::string content;
    if (exists) {
        if (!S_ISREG(old.st_mode)) refuse();
        // A file we may not write stays as it is, even though the folder would let us replace it.
        FileDescriptor file(::open(target.c_str(), O_RDWR | O_CLOEXEC));
        if (!file.Valid() || !ReadAll(file.Get(), content)) refuse();
    } else if (errno != ENOENT) {
        refuse();
    }
    if (!ReplaceContent(target, ini::SetValue(content, section, key, value), exists ? &old : nullptr)) refuse();
}

}  // namespace orvex
