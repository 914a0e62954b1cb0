// A stand-in main window for trying the options window alone: "FormMain" with one "Options" button
// at the main window's options place. Run in a folder that holds _settings.ini.
#include <windows.h>

#include "base/Win32_win.h"
#include "update/Settings.h"
#include "options/Frm2_win.h"

#include <memory>

namespace {

orvex::TStringList SettingsList;
std::unique_ptr<orvex::TForm1> Options;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == 1) Options->ShowOver();
    if (message == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    orvex::LoadSettings(SettingsList);
    WNDCLASSEXW windowClass{};
    windowClass.lpfnWndProc = MainProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = L"OptionsHarness";
    orvex::win32::RegisterWindowClass(windowClass);
    HWND main = ::CreateWindowExW(0, L"OptionsHarness", L"FormMain", WS_POPUP, 100, 100, 800, 599, nullptr, nullptr,
                                  instance, nullptr);
    ::CreateWindowExW(0, L"BUTTON", L"Options", WS_CHILD | WS_VISIBLE, 715, 18, 52, 15, main,
                      reinterpret_cast<HMENU>(1), instance, nullptr);
    Options = std::make_unique<orvex::TForm1>(instance, main, SettingsList);
    ::ShowWindow(main, SW_SHOW);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(Options->Handle(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    Options.reset();
    return 0;
}
