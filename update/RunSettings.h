#pragma once
// What one update run is told: the launcher's settings and how the program running it works.
#include "base/Text.h"
#include "update/Hosts.h"
#include "update/Limits.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

// How a differing launcher executable is put in place.
enum class SelfUpdateMode {
    BatchFile,        // the launcher: Update.bat ends this process and swaps the executable
    ReplaceDirectly,  // a tool that is not the running executable: rename the verified new file over it
};

// The launcher a run works for: its executable's file name (ANSI code page; "" when not known) and
// its process, the one Update.bat ends (0 when not known).
struct TLauncherProcess {
    std::string FileName;
    uint32_t ProcessId = 0;
};

struct TRunSettings {
    std::string UpdatesUrl;
    // Further base addresses of the same server folder, separated by spaces: each download goes
    // to them in turn when the ones before fail.
    std::string Mirrors;
    int32_t CreateBackup = 0;
    int32_t AtRevision = 0;
    bool FullCheck = false;
    // UpdateKey and ListSeq. With keys, a list counts only when its signature (files.lst.bz2.minisig)
    // is by one of them, is not older than ListSeq, has not expired and names the list's revision;
    // without, lists are taken unsigned.
    std::string UpdateKey;
    std::string ListSeq;
    // Channel: with keys, a list counts only when its signature names this channel; empty: any.
    std::string Channel;
    // RolloutNumber: 0 to 9999, or -1 when the installation has none yet (the run makes one when a
    // rollout asks for it).
    int RolloutNumber = -1;
    // Folder of the hosts file (hosts.msn, else hosts); the system's where the launcher edits it.
    // With neither this nor HostsFile, host entries are not applied and the view hears so.
    std::string HostsFolder = DefaultHostsFolder();
    // The hosts file to edit, exactly as named; takes the place of HostsFolder when set.
    std::string HostsFile;
    SelfUpdateMode SelfUpdate = SelfUpdateMode::BatchFile;
    // The batch-file self-update takes only a self entry of the launcher's name; without a name,
    // file entries are kept off the self entry's name instead.
    TLauncherProcess Launcher;
    // When the run gives up on a server or a copy (README, "Limits").
    TRunLimits Limits;
};

// A run of the launcher's kind (system hosts file, batch-file self-update) over the settings list
// LoadSettings fills. Raises EConvertError when CreateBackup or AtRevision is not a number, or
// MaxRate not a rate.
TRunSettings RunSettingsFrom(const TStringList& settings, bool fullCheck = false);

// The most bytes per second a run may take, so that a rate never overflows the budget's sums.
inline constexpr uint64_t MaxRateLimit = (uint64_t{1} << 32) - 1;

// A rate as MaxRate and --max-rate take it: decimal digits, then nothing, K (KiB) or M (MiB), in any
// case, at most MaxRateLimit bytes per second; empty is 0 (no cap). Nothing when it is not one.
std::optional<uint64_t> RateValue(const std::string& text);

}  // namespace orvex
