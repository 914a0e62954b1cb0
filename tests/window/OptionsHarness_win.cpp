// A stand-in main window for trying the options window alone: "FormMain" with one "Options" button
// at the main window's options place. Run in a folder that holds _settings.ini.
#include <windows.h>

#include "update/Settings.h"
#include "options/Frm2_win.h"

namespace {

orvex::TStringList SettingsList;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == 1) orvex::Form1->ShowOver();
    if (message == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    orvex::LoadSettings(SettingsList);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MainProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = L"OptionsHarness";
    ::RegisterClassW(&windowClass);
    HWND main = ::CreateWindowExW(0, L"OptionsHarness", L"FormMain", WS_POPUP, 100, 100, 800, 599, nullptr, nullptr,
                                  instance, nullptr);
    ::CreateWindowExW(0, L"BUTTON", L"Options", WS_CHILD | WS_VISIBLE, 715, 18, 52, 15, main,
                      reinterpret_cast<HMENU>(1), instance, nullptr);
    orvex::Form1 = std::make_unique<orvex::TForm1>(instance, main, SettingsList);
    ::ShowWindow(main, SW_SHOW);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(orvex::Form1->Handle(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    orvex::Form1.reset();
    return 0;
}
