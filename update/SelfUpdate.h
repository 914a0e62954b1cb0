#pragma once
// The launcher replacing itself when the list's self entry differs from its executable.
#include "update/RunSettings.h"

#include <functional>
#include <string>

namespace orvex {

struct TListEntry;

struct TSelfUpdateSteps {
    std::string BaseDir;        // ends with the path delimiter
    std::string StagingFolder;  // where the copy is downloaded; BaseDir when empty
    SelfUpdateMode Mode = SelfUpdateMode::BatchFile;
    TLauncherProcess Launcher;
    // Downloads the entry's copy into packed with the file bar, resumable, telling its failures.
    std::function<bool(const TListEntry& entry, const std::string& packed)> Download;
    // Unpacks packed into target with the file bar; raises when it cannot.
    std::function<void(const std::string& packed, const std::string& target)> Unpack;
    std::function<void(const std::string& text)> Notify;
};

// Puts the self entry line's file in place when it differs: directly, or through Update.bat, which
// ends the launcher and swaps the files. What fails is told and leaves the launcher as it is.
void UpdateSelf(const std::string& line, const TSelfUpdateSteps& steps);

}  // namespace orvex
