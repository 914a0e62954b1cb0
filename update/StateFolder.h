#pragma once
// The updater's own folder inside the installation (StateFolderName): what a run keeps between
// starts. Nothing else in the installation is the updater's to remove.
#include <string>

namespace orvex {

// baseDir (ending with a delimiter or not) + StateFolderName.
std::string StateFolderOf(const std::string& baseDir);

// The state folder, made when missing. A link of that name is removed itself and a real folder made
// in its place, so nothing the updater writes there lands outside the installation. Raises
// EInOutError when it cannot be made (a file of that name stays as it is).
std::string EnsureStateFolder(const std::string& baseDir);

}  // namespace orvex
