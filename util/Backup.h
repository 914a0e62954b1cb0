#pragma once
// The backup the update run keeps of each file it replaces.
#include <string>

namespace orvex {

// Copies the installed file source to backupFolder + "\" + path (path relative, "\" between
// folders), replacing whatever is there. Nothing is written through a link: the copy is renamed
// over the entry at its place, which replaces a link itself, and a link standing for the backup
// folder or a folder on the way is replaced by a real folder; when that link cannot be removed
// (Wine keeps a Unix link to a folder), there is no backup. False when no backup was made.
[[nodiscard]] bool CopyToBackup(const std::string& source, const std::string& backupFolder, const std::string& path);

}  // namespace orvex
