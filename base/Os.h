#pragma once
// The thin OS layer under the portable code. Paths are written the Windows way ("\" between
// folders); on other systems "\" is mapped to "/" at this boundary. Failures come back as results,
// so every result here must be looked at.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace orvex::os {

inline constexpr char PathDelim = '\\';

// The path as the OS takes it.
[[nodiscard]] std::string NativePath(const std::string& path);

// The process's current folder, without a trailing delimiter (except at a drive's root).
[[nodiscard]] std::string GetCurrentDir();
// Raises EInOutError with the OS code when the folder cannot be entered.
void SetCurrentDir(const std::string& path);

[[nodiscard]] bool FileExists(const std::string& path);        // an existing file, not a folder
// An existing regular file reached without a link at its own name: not a folder, a FIFO, a device
// or a socket, which reading could block on for ever or read without end.
[[nodiscard]] bool IsRegularFile(const std::string& path);
[[nodiscard]] bool DirectoryExists(const std::string& path);
[[nodiscard]] bool CreateDir(const std::string& path);         // one level
[[nodiscard]] bool ForceDirectories(const std::string& path);  // with every missing parent; true when it exists after
[[nodiscard]] bool DeleteFile(const std::string& path);
[[nodiscard]] bool RemoveDir(const std::string& path);         // an empty folder
[[nodiscard]] bool CopyFile(const std::string& source, const std::string& target, bool failIfExists);
// Renames source over target, replacing target when it exists.
[[nodiscard]] bool ReplaceFile(const std::string& source, const std::string& target);
// Whether ReplaceFile could replace path now (true when it does not exist): on Windows a file another
// program holds open without sharing its deletion cannot be. False tells the reason in LastError().
[[nodiscard]] bool CanReplace(const std::string& path);
[[nodiscard]] int64_t FileSize(const std::string& path);       // -1 when missing

// when in the local time zone, safe from any thread.
[[nodiscard]] std::tm LocalTime(std::time_t when);

// The last OS error code of this thread (GetLastError / errno).
[[nodiscard]] int LastError();
// A readable text for an OS error code.
[[nodiscard]] std::string ErrorText(int code);

// Every temporary file of the program ends with this, so a run that was ended half way leaves
// files the next run recognises (see IsTempName); no game file is named like that.
inline constexpr const char* TempSuffix = ".orvex-part";
// Unique name for a temporary file beside target: target, a unique part, then TempSuffix.
[[nodiscard]] std::string TempNameBeside(const std::string& target);
// True when the file name (without folder) was made by TempNameBeside.
[[nodiscard]] inline bool IsTempName(const std::string& name) {
    const std::string suffix = TempSuffix;
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// True when path is a symbolic link or junction (of a file or a folder) rather than the thing
// itself, also one that Wine shows as an ordinary entry. False when path does not exist.
[[nodiscard]] bool IsLink(const std::string& path);
// What path is in itself, a link not followed: a link (of a file or a folder, a junction) is
// Link whatever it points to; Other is neither a file nor a folder (a FIFO, a device, a socket).
enum class TEntryKind { Missing, File, Folder, Link, Other };
[[nodiscard]] TEntryKind EntryKind(const std::string& path);
// Removes the link at path itself, never what it points to. False when it cannot (Wine cannot
// remove a Unix link to a folder); the link then stays as it was.
[[nodiscard]] bool RemoveLink(const std::string& path);

// Deletes the folder at path with everything in it, permanently and without questions. A link
// (path itself, or anything inside) is removed itself and never followed, so nothing outside the
// folder changes. False when path is not an existing folder (a file stays) or something stays.
[[nodiscard]] bool DeleteFolder(const std::string& path);

// The system's folder for temporary files, without a trailing delimiter.
[[nodiscard]] std::string TempFolder();

struct TFolderEntry {
    std::string Name;
    bool IsFolder = false;
    // False when the name is not in this system's encoding (UTF-8 on Linux, the ANSI code page on
    // Windows): the program cannot name it again.
    bool Representable = true;
};

// The entries of a folder, "." and ".." left out; links are followed. False when the folder
// cannot be read.
[[nodiscard]] bool ListFolder(const std::string& path, std::vector<TFolderEntry>& entries);

}  // namespace orvex::os
