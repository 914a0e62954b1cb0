#include "options/GameOptions.h"

#include "update/Settings.h"
#include "base/Exceptions.h"
#include "base/Profile.h"
#include "common/ScratchFolder.h"

#include <gtest/gtest.h>

using namespace orvex;
using orvex::test::ScratchFolder;
using orvex::test::ReadWholeFile;

namespace {

struct OptionsFolder {
    ScratchFolder folder;
    std::string optionFile = folder.OsFile("option.ini");
    TStringList settings = {folder.Dir() + "\\", "", "", "Talvora", "1", "0", "0", "system\\orvex.exe"};

    TGameOptionsState Load(const std::string& content, TGameOptionsState state = {}) {
        folder.Write("option.ini", content);
        LoadGameOptions(state, optionFile, settings);
        return state;
    }
    std::string Read(const char* section, const char* key) {
        return ReadProfileString(optionFile, section, key, "<absent>");
    }
};

}  // namespace

TEST(LoadGameOptions, MissingFileGivesTheDefaults) {
    OptionsFolder f;
    TGameOptionsState state;
    LoadGameOptions(state, f.optionFile, f.settings);
    EXPECT_EQ(state.ComboBox1, -1);
    EXPECT_EQ(state.ComboBox2, -1);
    EXPECT_EQ(state.ComboBox3, -1);
    EXPECT_TRUE(state.CheckBox1);
    EXPECT_FALSE(state.CheckBox2);
    EXPECT_EQ(state.ComboBox4, 0);  // the finder
    EXPECT_FALSE(state.CheckBox3);
}

TEST(LoadGameOptions, ListsAreChosenByTheirTables) {
    OptionsFolder f;
    // The resolution is recognised by X + Y alone.
    EXPECT_EQ(f.Load("[Video]\nGamePlayViewportX=1024\nGamePlayViewportY=1280\n").ComboBox1, 4);
    EXPECT_EQ(f.Load("[video]\nGamePlayViewportX=2304\n").ComboBox1, 4);
    EXPECT_EQ(f.Load("[Video]\nGamePlayViewportX=800\nGamePlayViewportY=600\n").ComboBox1, 1);
    TGameOptionsState preset;
    preset.ComboBox1 = 2;
    preset.ComboBox2 = 0;
    preset.ComboBox3 = 3;
    // No match leaves a list as it was.
    const auto unmatched =
        f.Load("[Video]\nGamePlayViewportX=1280\nGamePlayViewportY=720\nColorBits=24\nRefreshRate=120\n", preset);
    EXPECT_EQ(unmatched.ComboBox1, 2);
    EXPECT_EQ(unmatched.ComboBox2, 0);
    EXPECT_EQ(unmatched.ComboBox3, 3);
    // Values whose sum does not fit 32 bits match nothing (and are no overflow for the sanitizers).
    for (const char* pair : {"X=2147483647\nGamePlayViewportY=2147483647", "X=-2147483648\nGamePlayViewportY=-1"})
        EXPECT_EQ(f.Load(std::string("[Video]\nGamePlayViewport") + pair + "\n", preset).ComboBox1, 2) << pair;
    const auto matched = f.Load("[Video]\nColorBits=16\nRefreshRate=0x4B\n[Game]\nPartyLooting=4\n");
    EXPECT_EQ(matched.ComboBox2, 1);
    EXPECT_EQ(matched.ComboBox3, 1);  // 75, written in hexadecimal
    EXPECT_EQ(matched.ComboBox4, 4);
    EXPECT_EQ(f.Load("[Video]\nColorBits=32\nRefreshRate=text\n").ComboBox2, 0);
    for (const char* looting : {"7", "-1"}) {
        preset.ComboBox4 = 2;
        EXPECT_EQ(f.Load(std::string("[Game]\nPartyLooting=") + looting + "\n", preset).ComboBox4, -1) << looting;
    }
}

TEST(LoadGameOptions, BooleansAcceptTrueFalseInAnyCaseAndNumbers) {
    OptionsFolder f;
    EXPECT_TRUE(f.Load("[Video]\nIsKeepMinFrameRate=TRUE\nStartupFullScreen=1\n").CheckBox1);
    EXPECT_TRUE(f.Load("[Video]\nStartupFullScreen=-3\n").CheckBox2);
    const auto off = f.Load("[Video]\nIsKeepMinFrameRate=0\nStartupFullScreen=False\n");
    EXPECT_FALSE(off.CheckBox1);
    EXPECT_FALSE(off.CheckBox2);
}

TEST(LoadGameOptions, OtherBooleanTextStopsTheLoadThere) {
    OptionsFolder f;
    f.settings[CreateBackupPos] = "1";
    TGameOptionsState state;
    f.folder.Write("option.ini", "[Video]\nColorBits=16\nIsKeepMinFrameRate=\n[Game]\nPartyLooting=2\n");
    try {
        LoadGameOptions(state, f.optionFile, f.settings);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid boolean value");
    }
    EXPECT_EQ(state.ComboBox2, 1);  // read before the error
    EXPECT_FALSE(state.CheckBox1);
    EXPECT_EQ(state.ComboBox4, -1);
    EXPECT_FALSE(state.CheckBox3);

    state = {};
    f.folder.Write("option.ini", "[Video]\nStartupFullScreen=yes\n");
    EXPECT_THROW(LoadGameOptions(state, f.optionFile, f.settings), EConvertError);
    EXPECT_TRUE(state.CheckBox1);
    EXPECT_FALSE(state.CheckBox2);
}

TEST(LoadGameOptions, BackupBoxOnlyForExactlyOne) {
    OptionsFolder f;
    f.settings[CreateBackupPos] = "01";
    EXPECT_FALSE(f.Load("").CheckBox3);
    f.settings[CreateBackupPos] = "1";
    EXPECT_TRUE(f.Load("").CheckBox3);
    TGameOptionsState ticked;
    ticked.CheckBox3 = true;
    f.settings[CreateBackupPos] = "0";
    EXPECT_TRUE(f.Load("", ticked).CheckBox3);  // otherwise left as it was
    // Without the settings file the list holds the base folder only.
    f.settings.resize(1);
    EXPECT_FALSE(f.Load("").CheckBox3);
}

TEST(SaveGameOptions, WritesTheSevenKeysAndTheBackupSwitchKeepingTheRest) {
    OptionsFolder f;
    f.folder.Write("option.ini",
                   "; the game's file\r\n[Video]\r\nGamePlayViewportX=1\r\nGamma=7\r\n[Sound]\r\nVolume=3\r\n"
                   "[Game]\r\nPartyLooting=0\r\nName=Hero\r\n");
    f.folder.Write("_settings.ini", "[main]\r\nCreateBackup=0\r\nLinkName=Talvora\r\n");
    TGameOptionsState state;
    state.ComboBox1 = 3;
    state.ComboBox2 = 1;
    state.ComboBox3 = 2;
    state.ComboBox4 = 4;
    state.CheckBox1 = true;
    state.CheckBox3 = true;
    ASSERT_TRUE(ApplyGameOptions(state, f.optionFile, f.settings));
    EXPECT_EQ(f.Read("Video", "GamePlayViewportX"), "1280");
    EXPECT_EQ(f.Read("Video", "GamePlayViewportY"), "960");
    EXPECT_EQ(f.Read("Video", "ColorBits"), "16");
    EXPECT_EQ(f.Read("Video", "RefreshRate"), "85");
    EXPECT_EQ(f.Read("Video", "IsKeepMinFrameRate"), "true");
    EXPECT_EQ(f.Read("Video", "StartupFullScreen"), "false");
    EXPECT_EQ(f.Read("Game", "PartyLooting"), "4");
    EXPECT_EQ(f.Read("Video", "Gamma"), "7");
    EXPECT_EQ(f.Read("Sound", "Volume"), "3");
    EXPECT_EQ(f.Read("Game", "Name"), "Hero");
    EXPECT_NE(ReadWholeFile(f.optionFile).find("; the game's file"), std::string::npos);
    EXPECT_EQ(f.settings[CreateBackupPos], "1");
    EXPECT_EQ(ReadProfileString(f.folder.OsFile("_settings.ini"), "main", "CreateBackup", ""), "1");
    EXPECT_EQ(ReadProfileString(f.folder.OsFile("_settings.ini"), "main", "LinkName", ""), "Talvora");
}

TEST(SaveGameOptions, ListsWithNothingSelectedKeepTheirKeys) {
    OptionsFolder f;
    f.folder.Write("option.ini", "[Video]\nGamePlayViewportX=1280\nGamePlayViewportY=720\nColorBits=24\n");
    TGameOptionsState state;  // no list selected, nothing ticked
    SaveGameOptions(state, f.optionFile, f.settings);
    EXPECT_EQ(f.Read("Video", "GamePlayViewportX"), "1280");
    EXPECT_EQ(f.Read("Video", "GamePlayViewportY"), "720");
    EXPECT_EQ(f.Read("Video", "ColorBits"), "24");
    EXPECT_EQ(f.Read("Video", "RefreshRate"), "<absent>");
    EXPECT_EQ(f.Read("Game", "PartyLooting"), "<absent>");
    EXPECT_EQ(f.Read("Video", "IsKeepMinFrameRate"), "false");
    EXPECT_EQ(f.settings[CreateBackupPos], "0");
    EXPECT_EQ(ReadProfileString(f.folder.OsFile("_settings.ini"), "main", "CreateBackup", ""), "0");
}

TEST(ApplyGameOptions, WithoutTheGameFileWritesNothing) {
    OptionsFolder f;
    f.folder.Write("_settings.ini", "[main]\r\nCreateBackup=0\r\n");
    TGameOptionsState state;
    state.CheckBox3 = true;
    EXPECT_FALSE(ApplyGameOptions(state, f.optionFile, f.settings));
    EXPECT_EQ(f.settings[CreateBackupPos], "0");
    EXPECT_EQ(ReadWholeFile(f.folder.OsFile("_settings.ini")), "[main]\r\nCreateBackup=0\r\n");
}

TEST(SaveGameOptions, RefusedWriteNamesTheFileAndStops) {
    OptionsFolder f;
    // A folder where the launcher's settings file should be refuses the write.
    f.folder.Write("option.ini", "[Video]\n");
    std::filesystem::create_directory(f.folder.OsFile("_settings.ini"));
    TGameOptionsState state;
    state.CheckBox3 = true;
    try {
        ApplyGameOptions(state, f.optionFile, f.settings);
        FAIL() << "no error";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + f.folder.Dir() + "\\_settings.ini");
    }
    EXPECT_EQ(f.Read("Video", "StartupFullScreen"), "false");

    // The game file refusing its first write: nothing after it is done.
    const std::string folderAsFile = f.folder.Dir() + "\\system";
    std::filesystem::create_directory(f.folder.OsFile("system"));
    f.settings[CreateBackupPos] = "0";
    EXPECT_THROW(SaveGameOptions(state, folderAsFile, f.settings), EIniFileException);
    EXPECT_EQ(f.settings[CreateBackupPos], "0");
}
