#pragma once
// The launcher's own settings: _settings.ini in the base folder, section "main".
#include "base/Text.h"

#include <cstddef>
#include <string>

namespace orvex {

// Positions in SettingsList.
enum SettingsPosition : std::size_t {
    BaseDirPos = 0,
    NewsUrlPos,
    UpdatesUrlPos,
    LinkNamePos,
    InstalledPos,
    CreateBackupPos,
    AtRevisionPos,
    RunCustomPos,
    // The public key lines a list must be signed with, separated by spaces; empty: lists unsigned.
    UpdateKeyPos,
    // The sequence number of the last signed list accepted; an older one is a replay.
    ListSeqPos,
    // Further base addresses serving the same server folder, separated by spaces.
    MirrorsPos,
    // The channel a signed list must name; empty: any.
    ChannelPos,
    // The installation's number for staged rollouts (0 to 9999), made once; empty: not made yet.
    RolloutNumberPos,
    // Bytes per second over all of a run's transfers, with K or M for KiB or MiB; empty or 0: no cap.
    MaxRatePos
};

inline constexpr const char* UpdateKeySetting = "UpdateKey";
inline constexpr const char* ListSeqSetting = "ListSeq";
inline constexpr const char* RolloutNumberSetting = "RolloutNumber";

// Fills SettingsList: the base folder (current folder plus "\"), then, when _settings.ini exists
// there, the keys of section "main" as texts (defaults for absent ones). Returns whether the
// file exists; without it the list holds the base folder only.
bool LoadSettings(TStringList& SettingsList);

// The base folder of the list followed by "_settings.ini".
std::string SettingsFileName(const TStringList& SettingsList);

// Writes one key of section "main" of that file. Raises EIniFileException with
// "Unable to write to %s" when the write is refused.
void WriteSetting(const TStringList& SettingsList, const std::string& key, const std::string& value);

// Records a signed list accepted: UpdateKey, then ListSeq, so a key the list named is never
// missing while its sequence number is recorded.
void WriteListTrust(const TStringList& SettingsList, const std::string& updateKey, const std::string& listSeq);

}  // namespace orvex
