#pragma once
// The launcher main window FMain: paints the model's controls over its background and forwards
// the window's events to it.
#include "app/MainWindowModel.h"
#include "base/Win32_win.h"
#include "ui/Drag.h"
#include "ui/ImgBtn_win.h"
#include "ui/Skin_win.h"
#include "ui/WebBrowser_win.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvex {

class TWindowDispatcher;

inline constexpr const wchar_t* SMainWindowClass = L"TFMain";
// Window property holding InstanceTag of the installation folder, for a second start to find us.
inline constexpr const wchar_t* SInstanceProperty = L"OrvexInstance";

class TFMain final : public IMainWindowHost {
public:
    TFMain(HINSTANCE instance, HWND application, TWindowDispatcher& dispatcher, uint32_t instanceTag);
    ~TFMain() override;
    TFMain(const TFMain&) = delete;
    TFMain& operator=(const TFMain&) = delete;

    // Builds the window (hidden) and runs FormCreate.
    void Create();
    HWND Handle() const { return FHandle; }
    // FormCreate asked the program to end.
    bool Terminated() const { return FTerminated; }
    // Null before FormCreate and after FormClose.
    TStringList* SettingsList() { return FModel.SettingsList(); }

    // Shows the options window over this one; whoever made the options window sets it. Until then
    // the options button does nothing.
    std::function<void()> OnShowOptions;

    // The error box for an error that escaped a handler; the program then goes on.
    void ShowErrorBox(const std::string& message);

    // Presses, moves and releases on the window's own background (not on a control).
    void FormMouseDown(TMouseButton button, int x, int y);
    void FormMouseMove(int x, int y);
    void FormMouseUp(TMouseButton button, int x, int y);

    // IMainWindowHost
    void Repaint(const TBounds& bounds) override;
    void ButtonChanged(TImgBtn& button) override;
    void StopTimer() override;
    void ShowNotice(const std::string& text) override;
    void Terminate() override;
    void CreateDesktopShortcut(const std::string& name, const std::string& workingFolder,
                               const std::string& description) override;
    void ApplySkinRegion() override;
    void Navigate(const std::string& url) override;
    void RunProgram(const std::string& path) override;
    void Close() override;
    void ShowOptions() override;
    void ShowPanel() override;

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    template <typename Handler>
    void Guarded(Handler&& handler);

    void Paint();
    void PaintControls(HDC dc);
    void PaintLabel(HDC dc, const TLabel& label);
    void PaintGauge(HDC dc, const TGauge& gauge);
    void CreatePanel();
    void CreateTips();
    void AddTip(UINT_PTR id, const TBounds& bounds);
    // Gives tool id its text when it changed; shown holds the text it has.
    void SetTip(UINT_PTR id, const std::string& text, std::string& shown);
    void RefreshTips();

    TImgBtn* ButtonAt(int x, int y);
    bool OnControl(int x, int y) const;
    void CaptureFor(TImgBtn* button);
    void ReleaseCaptureOf(TImgBtn* button);
    void MouseDown(TMouseButton button, int x, int y, bool doubleClick);
    void MouseMove(int x, int y);
    void MouseUp(TMouseButton button, int x, int y);

    HINSTANCE FInstance;
    HWND FApplication;
    TWindowDispatcher& FDispatcher;
    uint32_t FInstanceTag;
    TFMainModel FModel;  // the controls (Label1-3, Gauge1-2, ImgBtn1-5) and what they do
    HWND FHandle = nullptr;
    HWND FPanel = nullptr;               // Panel1: holds the news page, shown once it has loaded
    HWND FTips = nullptr;                // the tooltips of the status line and the file bar
    std::string FStatusTip, FFileBarTip;  // the texts they have
    TWebBrowserHost FWebBrowser1;        // the news page (NewsUrl) inside Panel1
    win32::TGdiObject<HBITMAP> FBackground;  // the skin: background picture and window shape
    TBrushHandle FSkinBrush;
    TDragModel FDrag;
    win32::TGdiObject<HFONT> FFont;      // the labels' font
    // The pictures of ImgBtn1 to ImgBtn5, in that order (play, check, cancel, close, options).
    std::unique_ptr<TImgBtnPictures> FPictures[5];
    TImgBtn* FCapture = nullptr;   // the button the pointer is captured for
    bool FFormCapture = false;     // a press on the background holds the pointer
    bool FSkinned = false;
    bool FTerminated = false;
};

}  // namespace orvex
