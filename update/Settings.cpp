#include "update/Settings.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Profile.h"

#include <iterator>

namespace orvex {

namespace {

constexpr const char* SettingsSection = "main";

struct SettingsKey {
    const char* name;
    const char* defaultValue;
};

// In list order, from position 1.
constexpr SettingsKey SettingsKeys[] = {
    {"NewsUrl", ""},
    {"UpdatesUrl", ""},
    {"LinkName", "Talvora"},
    {"Installed", "0"},
    {"CreateBackup", "0"},
    {"AtRevision", "0"},
    {"RunCustom", "system\\orvex.exe"},
    {UpdateKeySetting, ""},
    {ListSeqSetting, ""},
    {"Mirrors", ""},
    {"Channel", ""},
    {RolloutNumberSetting, ""},
    {"MaxRate", ""},
};
static_assert(std::size(SettingsKeys) == MaxRatePos);

}  // namespace

bool LoadSettings(TStringList& SettingsList) {
    SettingsList.clear();
    SettingsList.push_back(os::GetCurrentDir() + os::PathDelim);
    const std::string fileName = SettingsFileName(SettingsList);
    if (!os::FileExists(fileName)) return false;
    for (const auto& key : SettingsKeys)
        SettingsList.push_back(ReadProfileString(fileName, SettingsSection, key.name, key.defaultValue));
    return true;
}

std::string SettingsFileName(const TStringList& SettingsList) {
    return ListAt(SettingsList, BaseDirPos) + "_settings.ini";
}

void WriteSetting(const TStringList& SettingsList, const std::string& key, const std::string& value) {
    WriteProfileString(SettingsFileName(SettingsList), SettingsSection, key, value);
}

void WriteListTrust(const TStringList& SettingsList, const std::string& updateKey, const std::string& listSeq) {
    WriteSetting(SettingsList, UpdateKeySetting, updateKey);
    WriteSetting(SettingsList, ListSeqSetting, listSeq);
}

}  // namespace orvex
