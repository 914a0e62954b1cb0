#pragma once
// The game's own settings the options window edits (system\option.ini) and the launcher's backup
// switch, with the tables that map them to the window's lists and boxes.
#include "base/Text.h"

#include <array>
#include <cstdint>
#include <string>

namespace orvex {

// What the options window's controls hold; -1 is a list with no item selected.
struct TGameOptionsState {
    int32_t ComboBox1 = -1;  // resolution
    int32_t ComboBox2 = -1;  // colour depth
    int32_t ComboBox3 = -1;  // refresh rate
    int32_t ComboBox4 = -1;  // party looting
    bool CheckBox1 = false;  // IsKeepMinFrameRate
    bool CheckBox2 = false;  // StartupFullScreen
    bool CheckBox3 = false;  // CreateBackup
};

struct TResolution {
    const char* Item;
    const char* X;
    const char* Y;
    int32_t Sum;  // the stored pair is recognised by X + Y alone
};
inline constexpr std::array<TResolution, 5> Resolutions{{
    {"640x480", "640", "480", 1120},
    {"800x600", "800", "600", 1400},
    {"1024x768", "1024", "768", 1792},
    {"1280x960", "1280", "960", 2240},
    {"1280x1024", "1280", "1024", 2304},
}};

struct TColorDepth {
    const char* Item;
    int32_t Bits;
};
inline constexpr std::array<TColorDepth, 2> ColorDepths{{{"32 Bit", 32}, {"16 Bit", 16}}};

struct TRefreshRate {
    const char* Item;
    const char* Rate;
    int32_t Value;
};
inline constexpr std::array<TRefreshRate, 4> RefreshRates{{
    {"60 hz", "60", 60}, {"75 hz", "75", 75}, {"85 hz", "85", 85}, {"100 hz", "100", 100}}};

// The looting list's items (UTF-8); PartyLooting is the position itself.
inline constexpr std::array<const char*, 5> LootingModes{
    "Нашедшему", "Случайно", "Случайно включая споил", "По очереди", "По очереди включая споил"};

// The current folder followed by "\system\option.ini".
std::string GameOptionFileName();

// Fills `form` from the option file and SettingsList, control by control. A Boolean key with text
// other than true, false or a number raises EConvertError; the controls not reached keep their state.
void LoadGameOptions(TGameOptionsState& form, const std::string& optionFile, const TStringList& SettingsList);

// Writes the controls to the option file, position 5 of SettingsList and _settings.ini. A list with
// no item selected leaves its keys as they are. A refused write raises EIniFileException and stops.
void SaveGameOptions(const TGameOptionsState& form, const std::string& optionFile, TStringList& SettingsList);

// Apply: saves only when the option file exists; returns whether it saved.
bool ApplyGameOptions(const TGameOptionsState& form, const std::string& optionFile, TStringList& SettingsList);

}  // namespace orvex
