#pragma once
// Small files read and replaced as a whole: the settings file, the run's own state files. A
// replaced file is written beside itself, made durable and renamed over the old one, so whoever
// looks at it, also after a crash or a power cut, finds either the old file or the new one.
#include <optional>
#include <string>

namespace orvex {

// The file's bytes; nothing when it does not exist (nor its folder). Raises EFOpenError with the
// path and the system's reason when it is there but cannot be read.
std::optional<std::string> ReadFileWhole(const std::string& path);

// After it returns the file at path holds exactly bytes, on the disk. The temporary it writes first
// (os::TempNameBeside) never stays. A file that may not be written (read-only, a folder) stays as
// it is. On Windows, where nothing replaces a file somebody has open, it waits up to about two
// seconds for such readers to close it. Raises EFCreateError with the path and the system's reason
// on failure; the file is then the old one, or the new one when only the last flush of the folder
// failed.
void WriteFileWhole(const std::string& path, const std::string& bytes);

}  // namespace orvex
