#include "util/Backup.h"

#include "base/Os.h"
#include "base/Path.h"
#include "base/TempFile.h"

namespace orvex {

bool CopyToBackup(const std::string& source, const std::string& backupFolder, const std::string& path) {
    // Only a regular file is read: a FIFO or a device would never end, and a link is replaced, not
    // followed.
    if (!os::IsRegularFile(source) || path.empty()) return false;
    // The backup folder is the program's own, so a link found in it was not put there by the
    // program and goes.
    std::string folder = backupFolder;
    if (!EnsureRealFolder(folder)) return false;
    std::size_t from = 0;
    for (auto delim = path.find(os::PathDelim); delim != std::string::npos; delim = path.find(os::PathDelim, from)) {
        if (delim > from) {
            folder += os::PathDelim + path.substr(from, delim - from);
            if (!EnsureRealFolder(folder)) return false;
        }
        from = delim + 1;
    }
    TTempFile copy(folder + os::PathDelim + path.substr(from));
    return os::CopyFile(source, copy.Name(), true) && copy.Commit();
}

}  // namespace orvex
