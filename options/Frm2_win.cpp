#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include "options/Frm2_win.h"

#include "assets/Resources.h"
#include "ui/Drag_win.h"
#include "ui/MessageBoxes_win.h"
#include "ui/Picture_win.h"

#include <exception>
#include <iterator>
#include <string>
#include <vector>

namespace orvex {

namespace {

constexpr wchar_t ClassName[] = L"TForm1";
constexpr int FormWidth = 220;
constexpr int FormHeight = 300;
// Not IDOK and IDCANCEL: Enter and Escape do not apply or cancel this window.
constexpr int ButtonApply = 101;
constexpr int ButtonCancel = 102;

std::wstring Wide(const char* utf8) { return win32::Widen(utf8, CP_UTF8); }

struct TFormLabel {
    RECT Bounds;  // left, top, right, bottom
    const char* Caption;
    bool Bold;
    COLORREF Color;
};

constexpr COLORREF Black = RGB(0, 0, 0);
const TFormLabel Labels[] = {
    {{43, 26, 43 + 139, 26 + 13}, "Настройки обновления", true, Black},
    {{56, 88, 56 + 107, 88 + 13}, "Настройка игры", true, Black},
    {{19, 111, 19 + 69, 111 + 13}, "Разрешение :", false, Black},
    {{20, 135, 20 + 84, 135 + 13}, "Цветопередача :", false, Black},
    {{19, 159, 19 + 48, 159 + 13}, "Частота :", false, Black},
    {{32, 224, 32 + 24, 224 + 13}, "Лут :", false, RGB(202, 202, 202)},
};

win32::TGdiObject<HFONT> MakeFont(bool bold) {
    return win32::TGdiObject<HFONT>(::CreateFontW(-11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                                  DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                                  DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
}

}  // namespace

TForm1::TForm1(HINSTANCE instance, HWND mainWindow, TStringList& SettingsList)
    : FInstance(instance), FMainWindow(mainWindow), FSettingsList(SettingsList) {
    WNDCLASSEXW windowClass{};
    windowClass.lpfnWndProc = &win32::WindowProcOf<TForm1, &TForm1::FHandle, &TForm1::Dispatch>;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = ClassName;
    win32::RegisterWindowClass(windowClass);
    FFont = MakeFont(false);
    FBoldFont = MakeFont(true);
    // Owned by the main window, so it stays above it; no caption bar, no border.
    FHandle = ::CreateWindowExW(WS_EX_CONTROLPARENT, ClassName, L"Form1", WS_POPUP | WS_CLIPCHILDREN, 0, 0, FormWidth, FormHeight,
                                mainWindow, nullptr, instance, this);
    CreateControls();
    FormCreate();
}

TForm1::~TForm1() {
    if (FHandle) ::DestroyWindow(FHandle);
}

namespace {

// The flat look: one thin line round the field instead of the sunken 3-D edge.
LRESULT CALLBACK FlatComboProc(HWND combo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_NCDESTROY) ::RemoveWindowSubclass(combo, FlatComboProc, 0);
    const LRESULT result = ::DefSubclassProc(combo, message, wParam, lParam);
    if (message == WM_PAINT || message == WM_NCPAINT || message == WM_SETFOCUS || message == WM_KILLFOCUS ||
        message == WM_ENABLE) {
        RECT field{};
        ::GetClientRect(combo, &field);
        const win32::TWindowDC dc(combo);
        if (dc.Get()) {
            ::FrameRect(dc.Get(), &field, ::GetSysColorBrush(COLOR_BTNSHADOW));
            ::InflateRect(&field, -1, -1);
            ::FrameRect(dc.Get(), &field, ::GetSysColorBrush(COLOR_WINDOW));
        }
    }
    return result;
}

void MakeFlat(HWND combo) { ::SetWindowSubclass(combo, FlatComboProc, 0, 0); }

}  // namespace

void TForm1::CreateControls() {
    auto make = [this](const wchar_t* cls, const char* caption, DWORD style, int left, int top, int width, int height) {
        HWND control = ::CreateWindowExW(0, cls, Wide(caption).c_str(), WS_CHILD | WS_VISIBLE | style, left, top,
                                         width, height, FHandle, nullptr, FInstance, nullptr);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
        return control;
    };
    auto list = [&](int left, int top, int width, const auto& items) {
        // The height covers the drop-down part too; the field itself is sized from the font.
        HWND combo = make(L"COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, left, top, width,
                          21 + 16 * static_cast<int>(std::size(items)));
        for (const auto& item : items) ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
        return combo;
    };
    auto items = [](const auto& table) {
        std::vector<const char*> names;
        for (const auto& row : table) names.push_back(row.Item);
        return names;
    };
    // Created in tab order.
    ComboBox1 = list(108, 108, 93, items(Resolutions));
    ComboBox2 = list(108, 132, 93, items(ColorDepths));
    ComboBox3 = list(108, 156, 93, items(RefreshRates));
    MakeFlat(ComboBox1);
    MakeFlat(ComboBox2);
    CheckBox1 = make(L"BUTTON", "Мин. Качество изображения", BS_AUTOCHECKBOX | WS_TABSTOP, 20, 182, 181, 17);
    ::EnableWindow(CheckBox1, FALSE);
    CheckBox2 = make(L"BUTTON", "Полноэкранный режим", BS_AUTOCHECKBOX | WS_TABSTOP, 20, 200, 181, 17);
    ComboBox4 = list(66, 221, 127, LootingModes);
    CheckBox3 = make(L"BUTTON", "Резервная копия файлов", BS_AUTOCHECKBOX | WS_TABSTOP, 23, 58, 178, 17);
    SpeedButton1 = make(L"BUTTON", "Применить", BS_PUSHBUTTON | BS_FLAT, 32, 256, 75, 25);
    ::SetWindowLongPtrW(SpeedButton1, GWLP_ID, ButtonApply);
    SpeedButton2 = make(L"BUTTON", "Отмена", BS_PUSHBUTTON | BS_FLAT, 114, 256, 71, 25);
    ::SetWindowLongPtrW(SpeedButton2, GWLP_ID, ButtonCancel);
}

void TForm1::FormCreate() {
    FPicture = LoadPicture(FInstance, IDB_OPTIONS_BACKGROUND);
    if (FPicture) FBackground = ApplySkinRegion(FHandle, FPicture.Get());
    TGameOptionsState state = ReadControls();
    try {
        LoadGameOptions(state, GameOptionFileName(), FSettingsList);
    } catch (const std::exception& error) {
        WriteControls(state);
        ShowErrorBox(FMainWindow, error.what());
        return;
    }
    WriteControls(state);
}

TGameOptionsState TForm1::ReadControls() const {
    auto index = [](HWND combo) { return static_cast<int32_t>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)); };
    auto checked = [](HWND box) { return ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; };
    return {index(ComboBox1), index(ComboBox2), index(ComboBox3), index(ComboBox4),
            checked(CheckBox1), checked(CheckBox2), checked(CheckBox3)};
}

void TForm1::WriteControls(const TGameOptionsState& state) {
    auto select = [](HWND combo, int32_t index) { ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0); };
    auto check = [](HWND box, bool on) { ::SendMessageW(box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); };
    select(ComboBox1, state.ComboBox1);
    select(ComboBox2, state.ComboBox2);
    select(ComboBox3, state.ComboBox3);
    select(ComboBox4, state.ComboBox4);
    check(CheckBox1, state.CheckBox1);
    check(CheckBox2, state.CheckBox2);
    check(CheckBox3, state.CheckBox3);
}

void TForm1::ShowOver() {
    ::EnableWindow(FMainWindow, FALSE);
    if (!FShownBefore) {
        RECT main{};
        ::GetWindowRect(FMainWindow, &main);
        const int left = main.left + (main.right - main.left - FormWidth) / 2;
        const int top = main.top + (main.bottom - main.top - FormHeight) / 2;
        ::SetWindowPos(FHandle, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        FShownBefore = true;
    }
    ::ShowWindow(FHandle, SW_SHOW);
    ::SetForegroundWindow(FHandle);
}

void TForm1::CloseToMainWindow() {
    // The main window first, so activation goes back to it.
    ::EnableWindow(FMainWindow, TRUE);
    ::ShowWindow(FHandle, SW_HIDE);
}

void TForm1::SpeedButton1Click() {
    try {
        ApplyGameOptions(ReadControls(), GameOptionFileName(), FSettingsList);
    } catch (const std::exception& error) {
        ShowErrorBox(FHandle, error.what());
        return;  // the window stays open, the main window disabled
    }
    CloseToMainWindow();
}

void TForm1::SpeedButton2Click() { CloseToMainWindow(); }

bool TForm1::OnLabel(int32_t X, int32_t Y) const {
    for (const TFormLabel& label : Labels)
        if (X >= label.Bounds.left && X < label.Bounds.right && Y >= label.Bounds.top && Y < label.Bounds.bottom)
            return true;
    return false;
}

void TForm1::FormMouseDown(int32_t X, int32_t Y) {
    if (OnLabel(X, Y)) return;
    FDrag.MouseDown(X, Y);
    ::SetCapture(FHandle);
}

void TForm1::FormMouseMove(int32_t X, int32_t Y) {
    TWindowPosition position(FHandle);
    FDrag.MouseMove(position, X, Y);
}

void TForm1::FormMouseUp() {
    const bool wasDragging = FDrag.FDragging;
    FDrag.MouseUp();
    if (wasDragging) ::ReleaseCapture();
}

void TForm1::Paint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(FHandle, &paint);
    PaintLabels(dc);
    ::EndPaint(FHandle, &paint);
}

void TForm1::PaintLabels(HDC dc) {
    ::SetBkMode(dc, TRANSPARENT);
    const win32::TSelectObject font(dc, FFont.Get());
    for (const TFormLabel& label : Labels) {
        ::SelectObject(dc, label.Bold ? FBoldFont.Get() : FFont.Get());
        ::SetTextColor(dc, label.Color);
        RECT bounds = label.Bounds;
        const std::wstring caption = Wide(label.Caption);
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &bounds, DT_LEFT | DT_TOP | DT_NOPREFIX | DT_NOCLIP);
    }
}

LRESULT TForm1::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = FHandle;
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        FormMouseDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_MOUSEMOVE:
        FormMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        FormMouseUp();
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        const HWND control = reinterpret_cast<HWND>(lParam);
        HBRUSH brush = control == CheckBox1   ? static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH))
                       : control == CheckBox2 ? ::GetSysColorBrush(COLOR_BTNHIGHLIGHT)
                       : control == CheckBox3 ? ::GetSysColorBrush(COLOR_WINDOW)
                                              : nullptr;
        if (!brush) break;
        LOGBRUSH colour{};
        ::GetObjectW(brush, sizeof colour, &colour);
        ::SetBkColor(reinterpret_cast<HDC>(wParam), colour.lbColor);
        return reinterpret_cast<LRESULT>(brush);
    }
    case WM_CLOSE:
        // Alt+F4, the close command or another program: cancel. Destroying the window instead would
        // leave the main window disabled and the play button out of reach.
        SpeedButton2Click();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == ButtonApply) SpeedButton1Click();
        else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == ButtonCancel) SpeedButton2Click();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace orvex
