#pragma once
// The options window: a skinned borderless window over the main window, editing the game's
// option file and the launcher's backup switch.
#include <windows.h>

#include "base/Text.h"
#include "base/Win32_win.h"
#include "options/GameOptions.h"
#include "ui/Drag.h"
#include "ui/Skin_win.h"

namespace orvex {

class TForm1 {
public:
    // Creates the window hidden and runs FormCreate. `SettingsList` is the main window's and must
    // outlive this window. A load error is shown in the error box; the window is usable all the same.
    TForm1(HINSTANCE instance, HWND mainWindow, TStringList& SettingsList);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return FHandle; }
    // Disables the main window and shows this one without waiting for it; centred over the main
    // window the first time, where it was left afterwards.
    void ShowOver();

    // The controls as the portable options model sees them.
    TGameOptionsState ReadControls() const;
    void WriteControls(const TGameOptionsState& state);

private:
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void FormCreate();
    void CreateControls();
    void Paint();
    void PaintLabels(HDC dc);
    void SpeedButton1Click();
    void SpeedButton2Click();
    void FormMouseDown(int32_t X, int32_t Y);
    void FormMouseMove(int32_t X, int32_t Y);
    void FormMouseUp();
    bool OnLabel(int32_t X, int32_t Y) const;
    void CloseToMainWindow();

    HINSTANCE FInstance;
    HWND FMainWindow;
    TStringList& FSettingsList;
    HWND FHandle = nullptr;
    TDragModel FDrag;
    bool FShownBefore = false;
    win32::TGdiObject<HBITMAP> FPicture;  // the skin: background picture and window shape
    TBrushHandle FBackground;
    win32::TGdiObject<HFONT> FFont;
    win32::TGdiObject<HFONT> FBoldFont;  // the two section headings
    HWND ComboBox1 = nullptr;     // screen resolution of the game
    HWND ComboBox2 = nullptr;     // colour depth of the game
    HWND ComboBox3 = nullptr;     // screen refresh rate of the game
    HWND ComboBox4 = nullptr;     // how the game shares a party's loot
    HWND CheckBox1 = nullptr;     // minimum picture quality (keep the frame rate); always disabled
    HWND CheckBox2 = nullptr;     // the game starts full-screen
    HWND CheckBox3 = nullptr;     // the launcher keeps a backup of replaced files (CreateBackup)
    HWND SpeedButton1 = nullptr;  // Apply: writes the options and closes the window
    HWND SpeedButton2 = nullptr;  // Cancel: closes the window without writing
};

}  // namespace orvex
