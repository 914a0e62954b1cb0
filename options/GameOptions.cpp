#include "options/GameOptions.h"

#include "update/Settings.h"
#include "base/Os.h"
#include "base/Profile.h"

namespace orvex {

namespace {

constexpr const char* VideoSection = "Video";
constexpr const char* GameSection = "Game";

int32_t ReadInteger(const std::string& file, const char* section, const char* key, int32_t defaultValue) {
    return StrToIntDef(ReadProfileString(file, section, key, ""), defaultValue);
}

bool ReadBool(const std::string& file, const char* section, const char* key, const char* defaultText) {
    return StrToBool(ReadProfileString(file, section, key, defaultText));
}

const char* BoolText(bool value) { return value ? "true" : "false"; }

template <class TTable>
bool Selected(const TTable& table, int32_t index) {
    return index >= 0 && static_cast<size_t>(index) < table.size();
}

}  // namespace

std::string GameOptionFileName() {
    std::string name = os::GetCurrentDir();
    name.append("\\system\\option.ini");
    return name;
}

void LoadGameOptions(TGameOptionsState& form, const std::string& optionFile, const TStringList& SettingsList) {
    // Any two 32-bit values may be stored; their sum is taken in 64 bits so it cannot overflow.
    const int64_t sum = int64_t{ReadInteger(optionFile, VideoSection, "GamePlayViewportX", 0)} +
                        ReadInteger(optionFile, VideoSection, "GamePlayViewportY", 0);
    for (size_t i = 0; i < Resolutions.size(); ++i)
        if (Resolutions[i].Sum == sum) form.ComboBox1 = static_cast<int32_t>(i);

    const int32_t bits = ReadInteger(optionFile, VideoSection, "ColorBits", 0);
    for (size_t i = 0; i < ColorDepths.size(); ++i)
        if (ColorDepths[i].Bits == bits) form.ComboBox2 = static_cast<int32_t>(i);

    const int32_t rate = ReadInteger(optionFile, VideoSection, "RefreshRate", 0);
    for (size_t i = 0; i < RefreshRates.size(); ++i)
        if (RefreshRates[i].Value == rate) form.ComboBox3 = static_cast<int32_t>(i);

    form.CheckBox1 = ReadBool(optionFile, VideoSection, "IsKeepMinFrameRate", "true");
    form.CheckBox2 = ReadBool(optionFile, VideoSection, "StartupFullScreen", "false");

    const int32_t looting = ReadInteger(optionFile, GameSection, "PartyLooting", 0);
    form.ComboBox4 = Selected(LootingModes, looting) ? looting : -1;

    // Without the settings file the list holds the base folder only.
    if (SettingsList.size() > CreateBackupPos && SettingsList[CreateBackupPos] == "1") form.CheckBox3 = true;
}

void SaveGameOptions(const TGameOptionsState& form, const std::string& optionFile, TStringList& SettingsList) {
    if (Selected(Resolutions, form.ComboBox1)) {
        WriteProfileString(optionFile, VideoSection, "GamePlayViewportX", Resolutions[form.ComboBox1].X);
        WriteProfileString(optionFile, VideoSection, "GamePlayViewportY", Resolutions[form.ComboBox1].Y);
    }
    if (Selected(ColorDepths, form.ComboBox2))
        WriteProfileString(optionFile, VideoSection, "ColorBits", IntToStr(ColorDepths[form.ComboBox2].Bits));
    if (Selected(RefreshRates, form.ComboBox3))
        WriteProfileString(optionFile, VideoSection, "RefreshRate", RefreshRates[form.ComboBox3].Rate);
    WriteProfileString(optionFile, VideoSection, "IsKeepMinFrameRate", BoolText(form.CheckBox1));
    WriteProfileString(optionFile, VideoSection, "StartupFullScreen", BoolText(form.CheckBox2));
    if (Selected(LootingModes, form.ComboBox4))
        WriteProfileString(optionFile, GameSection, "PartyLooting", IntToStr(form.ComboBox4));

    if (SettingsList.size() <= CreateBackupPos) SettingsList.resize(CreateBackupPos + 1);
    SettingsList[CreateBackupPos] = std::string(1, form.CheckBox3 ? '1' : '0');
    WriteSetting(SettingsList, "CreateBackup", SettingsList[CreateBackupPos]);
}

bool ApplyGameOptions(const TGameOptionsState& form, const std::string& optionFile, TStringList& SettingsList) {
    if (!os::FileExists(optionFile)) return false;
    SaveGameOptions(form, optionFile, SettingsList);
    return true;
}

}  // namespace orvex
