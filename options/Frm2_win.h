#pragma once
// The options window: a skinned borderless window over the main window, editing the game's
// option file and the launcher's backup switch.
#include <windows.h>

#include "base/Text.h"
#include "options/GameOptions.h"
#include "ui/Drag.h"
#include "ui/Skin_win.h"

#include <memory>

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
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void FormCreate();
    void CreateControls();
    void Paint();
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
    HBITMAP FPicture = nullptr;
    TBrushHandle FBackground;
    HFONT FFont = nullptr;
    HFONT FBoldFont = nullptr;
    HWND ComboBox1 = nullptr, ComboBox2 = nullptr, ComboBox3 = nullptr, ComboBox4 = nullptr;
    HWND CheckBox1 = nullptr, CheckBox2 = nullptr, CheckBox3 = nullptr;
    HWND SpeedButton1 = nullptr, SpeedButton2 = nullptr;
};

// The one options window, made after the main window.
extern std::unique_ptr<TForm1> Form1;

}  // namespace orvex
