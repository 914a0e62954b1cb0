#pragma once
// What a run that was ended half way (window closed, process killed) leaves in the installation.
#include "base/Text.h"

#include <string>

namespace orvex {

class TListFile;

// Removes the temporary files (os::IsTempName) in the installation folder and in the folders of
// the listed paths, and a download copy X.bz2 beside a listed X unless X.bz2 is listed itself.
// Only one run per installation folder exists at a time, so every such file found at the start
// of a run is left over. A link of such a name is removed itself. baseDir ends with "\".
void RemoveLeftovers(const std::string& baseDir, const TStringList& listedPaths);
// The same for every file entry of the list (self, critical and normal sections).
void RemoveLeftovers(const std::string& baseDir, TListFile& list);

// The temporaries a killed run left beside the updater's own files outside its staging folder:
// beside _settings.ini, the list and its signature, and in the state folder. Only names of the form os::TempNameBeside gives
// are removed, never through a link. baseDir ends with "\".
void RemoveOwnTemporaries(const std::string& baseDir);
// The same in folder and the real folders in it: the backup folder after a commit cut short.
void RemoveOwnTemporariesUnder(const std::string& folder);

}  // namespace orvex
