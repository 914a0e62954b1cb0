#include "base/Os.h"

#include "base/Exceptions.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex::os {

std::string NativePath(const std::string& path) {
    std::string result = path;
    for (char& c : result)
        if (c == '\\') c = '/';
    return result;
}

std::string GetCurrentDir() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return std::string();
    std::string dir = buffer;
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir == "/" ? std::string() : dir;  // the root plus "\" still makes "/"
}

void SetCurrentDir(const std::string& path) {
    if (::chdir(NativePath(path).c_str()) != 0) RaiseInOutError(errno);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) { return ::mkdir(NativePath(path).c_str(), 0777) == 0; }

bool ForceDirectories(const std::string& path) {
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    if (native.empty()) return false;
    struct stat st {};
    if (::stat(native.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const auto slash = native.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(native.substr(0, slash))) return false;
    return ::mkdir(native.c_str(), 0777) == 0 || errno == EEXIST;
}

bool DeleteFile(const std::string& path) {
    const std::string native = NativePath(path);
    struct stat st {};
    if (::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    return ::unlink(native.c_str()) == 0;
}

bool RemoveDir(const std::string& path) { return ::rmdir(NativePath(path).c_str()) == 0; }

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists) {
    const int in = ::open(NativePath(source).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(in);
        return false;
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    const int out = ::open(NativePath(target).c_str(), flags, st.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    return ok;
}

// A rename replaces a file whoever holds it open.
bool CanReplace(const std::string&) { return true; }

bool ReplaceFile(const std::string& source, const std::string& target) {
    const std::string nativeTarget = NativePath(target);
    // A replaced file keeps its permissions (a program stays runnable, a read-only file read-only);
    // the new content comes with the mode the umask gave, which is right only for a new file.
    struct stat old {};
    if (::lstat(nativeTarget.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        static_cast<void>(::chmod(NativePath(source).c_str(), old.st_mode & 0777));  // a failure keeps the default mode
    return ::rename(NativePath(source).c_str(), nativeTarget.c_str()) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return st.st_size;
}

int LastError() { return errno; }

std::string ErrorText(int code) { return std::strerror(code); }

std::string TempNameBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + "." + std::to_string(::getpid()) + "_" + std::to_string(counter++) + TempSuffix;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// remove_all removes a link itself, wherever it is in the tree (the top included), and never
// enters what it points to.
bool DeleteFolder(const std::string& path) {
    if (!DirectoryExists(path)) return false;
    std::error_code error;
    std::filesystem::remove_all(NativePath(path), error);
    return !error && !std::filesystem::exists(std::filesystem::symlink_status(NativePath(path)));
}

TEntryKind EntryKind(const std::string& path) {
    struct stat st {};
    if (::lstat(NativePath(path).c_str(), &st) != 0) return TEntryKind::Missing;
    if (S_ISLNK(st.st_mode)) return TEntryKind::Link;
    if (S_ISDIR(st.st_mode)) return TEntryKind::Folder;
    return S_ISREG(st.st_mode) ? TEntryKind::File : TEntryKind::Other;
}

bool RemoveLink(const std::string& path) { return IsLink(path) && ::unlink(NativePath(path).c_str()) == 0; }

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string result = dir && *dir ? dir : "/tmp";
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

namespace {

// Names here are UTF-8; a name in any other encoding cannot be written in the list's code page.
bool IsUtf8(const std::string& name) {
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const int follow = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                         : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
        const auto width = static_cast<std::size_t>(follow);
        if (follow < 0 || i + width >= name.size() + (width == 0 ? 1 : 0)) return false;
        for (int k = 1; k <= follow; ++k)
            if ((static_cast<unsigned char>(name[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80) return false;
        i += width + 1;
    }
    return true;
}

}  // namespace

bool ListFolder(const std::string& path, std::vector<TFolderEntry>& entries) {
    const std::string native = NativePath(path);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(native.c_str()), ::closedir);
    if (!dir) return false;
    entries.clear();
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        const bool isFolder = ::stat((native + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        entries.push_back(TFolderEntry{name, isFolder, IsUtf8(name)});
    }
    return true;
}

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    static_cast<void>(localtime_r(&when, &local));
    return local;
}

}  // namespace orvex::os
