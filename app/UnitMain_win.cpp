#include "app/UnitMain_win.h"

#include "app/WindowDispatcher_win.h"
#include "app/Shortcut.h"
#include "assets/Resources.h"
#include "ui/Drag_win.h"
#include "ui/MessageBoxes_win.h"
#include "ui/Picture_win.h"
#include "util/Misc.h"

#include <commctrl.h>
#include <windowsx.h>

#include <exception>
#include <stdexcept>
#include <vector>

namespace orvex {

namespace {

constexpr int ClientWidth = 800;
constexpr int ClientHeight = 599;
constexpr UINT_PTR Timer1 = 1;
constexpr UINT Timer1Interval = 1000;
constexpr const wchar_t* SPanelClass = L"TPanel";
// The tooltips' texts follow the run at this pace: the rate is one over seconds anyway.
constexpr UINT_PTR TipTimer = 2;
constexpr UINT TipInterval = 1000;
constexpr UINT_PTR StatusTipId = 1;
constexpr UINT_PTR FileBarTipId = 2;
// Wide enough for an address on one line; a longer one wraps.
constexpr LPARAM TipWidth = 480;
// Long enough to read a reason.
constexpr WORD TipShownFor = 30000;

COLORREF ToColorRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

RECT ToRect(const TBounds& b) { return RECT{b.Left, b.Top, b.Left + b.Width, b.Top + b.Height}; }

std::string MessageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

win32::TGdiObject<HFONT> MakeFont(const wchar_t* face, BYTE charset) {
    return win32::TGdiObject<HFONT>(::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset,
                                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                                  DEFAULT_PITCH | FF_DONTCARE, face));
}

// The font mapper answers a Cyrillic request with the named face only when that face has Cyrillic.
bool IsFaceWithCyrillic(HFONT font, const wchar_t* face) {
    const win32::TWindowDC screen;
    const win32::TSelectObject selected(screen.Get(), font);
    wchar_t chosen[LF_FACESIZE] = {};
    ::GetTextFaceW(screen.Get(), LF_FACESIZE, chosen);
    const bool cyrillic = ::GetTextCharset(screen.Get()) == RUSSIAN_CHARSET;
    return cyrillic && ::lstrcmpiW(chosen, face) == 0;
}

// MS Sans Serif 11 px; where the system's lacks Cyrillic, a face that has it.
win32::TGdiObject<HFONT> MakeLabelFont() {
    for (const wchar_t* face : {L"MS Sans Serif", L"Microsoft Sans Serif", L"Tahoma", L"Arial"}) {
        win32::TGdiObject<HFONT> font = MakeFont(face, RUSSIAN_CHARSET);
        if (font && IsFaceWithCyrillic(font.Get(), face)) return font;
    }
    return MakeFont(L"MS Sans Serif", DEFAULT_CHARSET);
}

// This program's file name in the ANSI code page, as an update list names files; "" when that code
// page cannot write it (no list can name it then either).
std::string OwnFileName() {
    std::vector<wchar_t> path(MAX_PATH);
    DWORD length = 0;
    // A path longer than the buffer comes back cut to its size.
    while ((length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size() &&
           path.size() < 32768)
        path.resize(path.size() * 2);
    if (length == 0 || length >= path.size()) return std::string();
    const std::wstring full(path.data(), length);
    const std::wstring name = full.substr(full.find_last_of(L"\\/") + 1);
    BOOL lossy = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), static_cast<int>(name.size()),
                                           nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), static_cast<int>(name.size()), narrow.data(), size,
                          nullptr, nullptr);
    return narrow;
}

// The version 5 layout: without a manifest for version 6 of the common controls, the larger
// structure is refused.
TTTOOLINFOW ToolOf(HWND window, UINT_PTR id) {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window;
    tool.uId = id;
    return tool;
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TFMain::TFMain(HINSTANCE instance, HWND application, TWindowDispatcher& dispatcher, uint32_t instanceTag)
    : FInstance(instance),
      FApplication(application),
      FDispatcher(dispatcher),
      FInstanceTag(instanceTag),
      FModel(*this, dispatcher) {
    FModel.Launcher = TLauncherProcess{OwnFileName(), static_cast<uint32_t>(::GetCurrentProcessId())};
}

TFMain::~TFMain() {
    if (FHandle) ::DestroyWindow(FHandle);
}

void TFMain::Create() {
    WNDCLASSEXW windowClass{};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = &win32::WindowProcOf<TFMain, &TFMain::FHandle, &TFMain::HandleMessage>;
    windowClass.hInstance = FInstance;
    windowClass.hIcon = ::LoadIconW(FInstance, MAKEINTRESOURCEW(IDI_ORVEX));
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = SMainWindowClass;
    win32::RegisterWindowClass(windowClass);

    FBackground = LoadPicture(FInstance, IDB_MAIN_BACKGROUND);
    const int pictureIds[5] = {IDB_BTN_PLAY, IDB_BTN_CHECK, IDB_BTN_CANCEL, IDB_BTN_CLOSE, IDB_BTN_OPTIONS};
    for (int i = 0; i < 5; ++i) FPictures[i] = std::make_unique<TImgBtnPictures>(FInstance, pictureIds[i]);
    FFont = MakeLabelFont();

    // Centred on the desktop; without border the window is its client area.
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - ClientWidth) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - ClientHeight) / 2;
    FHandle = ::CreateWindowExW(0, SMainWindowClass, L"FormMain", WS_POPUP | WS_SYSMENU | WS_CLIPCHILDREN, left, top,
                                ClientWidth, ClientHeight, FApplication, nullptr, FInstance, this);
    if (!FHandle) throw std::runtime_error("The main window cannot be created");
    ::SetPropW(FHandle, SInstanceProperty, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(FInstanceTag)));
    FDispatcher.SetWindow(FHandle);
    CreatePanel();
    CreateTips();
    ::SetTimer(FHandle, Timer1, Timer1Interval, nullptr);
    Guarded([this] { FModel.FormCreate(); });
}

void TFMain::CreatePanel() {
    WNDCLASSEXW panelClass{};
    panelClass.lpfnWndProc = &PanelProc;
    panelClass.hInstance = FInstance;
    panelClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    panelClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    panelClass.lpszClassName = SPanelClass;
    win32::RegisterWindowClass(panelClass);
    const TBounds& b = FModel.Panel1Bounds;
    FPanel = ::CreateWindowExW(0, SPanelClass, L"", WS_CHILD | WS_CLIPCHILDREN, b.Left, b.Top, b.Width, b.Height,
                               FHandle, nullptr, FInstance, nullptr);
    FWebBrowser1.OnNavigateComplete2 = [this] {
        try {
            FModel.WebBrowser1NavigateComplete2();
        } catch (...) {
            // Showing the panel cannot fail in a way worth a message.
        }
    };
    // 2 pixels beyond the panel on every side: the panel cuts the browser's edge off.
    try {
        FWebBrowser1.Create(FPanel, RECT{-2, -2, b.Width + 2, b.Height + 2});
    } catch (const std::exception&) {
        // Navigate reports why, in the error box, when the news page is asked for.
    }
}

// The window works without its tooltips when they cannot be made.
void TFMain::CreateTips() {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    FTips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FHandle, nullptr, FInstance,
                              nullptr);
    if (!FTips) return;
    ::SendMessageW(FTips, TTM_SETMAXTIPWIDTH, 0, TipWidth);
    ::SendMessageW(FTips, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(TipShownFor, 0));
    AddTip(StatusTipId, FModel.Label3.Bounds);
    AddTip(FileBarTipId, FModel.FileBarTipBounds);
    ::SetTimer(FHandle, TipTimer, TipInterval, nullptr);
}

// The tooltip watches the pointer over the window itself (TTF_SUBCLASS); an empty text shows nothing.
void TFMain::AddTip(UINT_PTR id, const TBounds& bounds) {
    TTTOOLINFOW tool = ToolOf(FHandle, id);
    tool.uFlags = TTF_SUBCLASS;
    tool.rect = ToRect(bounds);
    wchar_t none[] = L"";
    tool.lpszText = none;
    ::SendMessageW(FTips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TFMain::SetTip(UINT_PTR id, const std::string& text, std::string& shown) {
    if (!FTips || text == shown) return;
    shown = text;
    std::wstring wide = win32::Widen(text, CP_ACP);
    TTTOOLINFOW tool = ToolOf(FHandle, id);
    tool.lpszText = wide.data();
    ::SendMessageW(FTips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    // A tip on show keeps its old text when the new one is empty: a rate of a transfer long gone.
    TTTOOLINFOW current = ToolOf(nullptr, 0);
    if (text.empty() && ::SendMessageW(FTips, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&current)) &&
        current.uId == id)
        ::SendMessageW(FTips, TTM_POP, 0, 0);
}

void TFMain::RefreshTips() {
    SetTip(StatusTipId, FModel.StatusTip(), FStatusTip);
    SetTip(FileBarTipId, FModel.FileBarTip(), FFileBarTip);
}

template <typename Handler>
void TFMain::Guarded(Handler&& handler) {
    std::exception_ptr error;
    try {
        handler();
    } catch (...) {
        error = std::current_exception();
    }
    if (error) ShowErrorBox(MessageOf(error));
}

void TFMain::ShowErrorBox(const std::string& message) { ::orvex::ShowErrorBox(FHandle, message); }

// --- what the model asks ---------------------------------------------------------------------

void TFMain::Repaint(const TBounds& bounds) {
    const RECT area = ToRect(bounds);
    ::InvalidateRect(FHandle, &area, FALSE);
}

void TFMain::ButtonChanged(TImgBtn& button) {
    if (FCapture == &button && (!button.Visible() || !button.Enabled())) ReleaseCaptureOf(&button);
    Repaint(TBounds{button.Left(), button.Top(), button.Width(), button.Height()});
}

void TFMain::StopTimer() { ::KillTimer(FHandle, Timer1); }

void TFMain::ShowNotice(const std::string& text) { ::orvex::ShowNotice(FApplication, text); }

void TFMain::Terminate() { FTerminated = true; }

void TFMain::CreateDesktopShortcut(const std::string& name, const std::string& workingFolder,
                                   const std::string& description) {
    ::orvex::CreateDesktopShortcut(name, workingFolder, description);
}

void TFMain::ApplySkinRegion() {
    if (FBackground) FSkinBrush = ::orvex::ApplySkinRegion(FHandle, FBackground.Get());
    FSkinned = true;
    ::InvalidateRect(FHandle, nullptr, FALSE);
}

void TFMain::Navigate(const std::string& url) { FWebBrowser1.Navigate(url); }

void TFMain::RunProgram(const std::string& path) {
    // The launcher closes after Play whether the game started or not, as it always has.
    static_cast<void>(RunFile(path));
}

// Posted, so a handler that closes the window finishes before the window goes.
void TFMain::Close() { ::PostMessageW(FHandle, WM_CLOSE, 0, 0); }

// The options window disables this window and gives it back when it is left.
void TFMain::ShowOptions() {
    if (OnShowOptions) OnShowOptions();
}

void TFMain::ShowPanel() { ::ShowWindow(FPanel, SW_SHOW); }

// --- dragging --------------------------------------------------------------------------------

void TFMain::FormMouseDown(TMouseButton, int x, int y) { FDrag.MouseDown(x, y); }

void TFMain::FormMouseMove(int x, int y) {
    TWindowPosition position(FHandle);
    FDrag.MouseMove(position, x, y);
}

void TFMain::FormMouseUp(TMouseButton, int, int) { FDrag.MouseUp(); }

// --- painting --------------------------------------------------------------------------------

void TFMain::Paint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(FHandle, &paint);
    {
        // Everything is drawn into a buffer first and copied once: no flicker.
        win32::TDoubleBuffer buffer(dc, ClientWidth, ClientHeight, paint.rcPaint);
        PaintControls(buffer.DC());
    }
    ::EndPaint(FHandle, &paint);
}

void TFMain::PaintControls(HDC dc) {
    const RECT client{0, 0, ClientWidth, ClientHeight};
    if (FSkinned && FBackground) {
        const win32::TMemoryDC source(dc);
        const win32::TSelectObject selected(source.Get(), FBackground.Get());
        ::BitBlt(dc, 0, 0, ClientWidth, ClientHeight, source.Get(), 0, 0, SRCCOPY);
    } else {
        ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    }
    PaintGauge(dc, FModel.Gauge1);
    PaintGauge(dc, FModel.Gauge2);
    {
        const win32::TSelectObject font(dc, FFont.Get());
        ::SetBkMode(dc, TRANSPARENT);
        for (const TLabel* label : {&FModel.Label1, &FModel.Label2, &FModel.Label3}) PaintLabel(dc, *label);
    }
    const TImgBtn* buttons[5] = {&FModel.ImgBtn1, &FModel.ImgBtn2, &FModel.ImgBtn3, &FModel.ImgBtn4, &FModel.ImgBtn5};
    for (int i = 0; i < 5; ++i) PaintImgBtn(dc, *buttons[i], *FPictures[i]);
}

void TFMain::PaintLabel(HDC dc, const TLabel& label) {
    const std::wstring text = win32::Widen(label.Caption, label.Encoding == TTextEncoding::Utf8 ? CP_UTF8 : CP_ACP);
    RECT area = ToRect(label.Bounds);
    ::SetTextColor(dc, ToColorRef(label.Color));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                DT_EXPANDTABS | DT_NOPREFIX | DT_NOCLIP | (label.Centered ? DT_CENTER : DT_LEFT));
}

void TFMain::PaintGauge(HDC dc, const TGauge& gauge) {
    RECT area = ToRect(gauge.Bounds);
    const win32::TGdiObject<HBRUSH> back(::CreateSolidBrush(ToColorRef(gauge.BackColor)));
    ::FillRect(dc, &area, back.Get());
    area.right = area.left + GaugeFillWidth(gauge.Bounds.Width, gauge.Model.PercentDone());
    if (area.right <= area.left) return;
    const win32::TGdiObject<HBRUSH> bar(::CreateSolidBrush(ToColorRef(gauge.ForeColor)));
    ::FillRect(dc, &area, bar.Get());
}

// --- the pointer -----------------------------------------------------------------------------

TImgBtn* TFMain::ButtonAt(int x, int y) {
    for (TImgBtn* button : {&FModel.ImgBtn1, &FModel.ImgBtn2, &FModel.ImgBtn3, &FModel.ImgBtn4, &FModel.ImgBtn5})
        if (button->Visible() && button->Contains(x, y)) return button;
    return nullptr;
}

// Labels and gauges take the pointer too, as the UI framework's controls did: a press on them is not
// a press on the background.
bool TFMain::OnControl(int x, int y) const {
    for (const TBounds* b : {&FModel.Label1.Bounds, &FModel.Label2.Bounds, &FModel.Label3.Bounds,
                             &FModel.Gauge1.Bounds, &FModel.Gauge2.Bounds})
        if (x >= b->Left && x < b->Left + b->Width && y >= b->Top && y < b->Top + b->Height) return true;
    return false;
}

void TFMain::CaptureFor(TImgBtn* button) {
    FCapture = button;
    if (::GetCapture() != FHandle) ::SetCapture(FHandle);
}

void TFMain::ReleaseCaptureOf(TImgBtn* button) {
    if (FCapture != button) return;
    FCapture = nullptr;
    if (::GetCapture() == FHandle) ::ReleaseCapture();
}

void TFMain::MouseMove(int x, int y) {
    if (FFormCapture) {
        FormMouseMove(x, y);
        return;
    }
    TImgBtn* button = FCapture ? FCapture : ButtonAt(x, y);
    if (button) {
        const TImgBtnPicture before = button->Picture();
        const TCaptureRequest request = button->MouseMove(x - button->Left(), y - button->Top());
        if (request == TCaptureRequest::Capture) CaptureFor(button);
        if (request == TCaptureRequest::Release) ReleaseCaptureOf(button);
        if (button->Picture() != before) ButtonChanged(*button);
        return;
    }
    if (!OnControl(x, y)) FormMouseMove(x, y);
}

void TFMain::MouseDown(TMouseButton which, int x, int y, bool doubleClick) {
    TImgBtn* button = FCapture ? FCapture : ButtonAt(x, y);
    if (button) {
        button->MouseDown(which, x - button->Left(), y - button->Top(), doubleClick);
        // A left press holds the pointer for the control until the release, enabled or not.
        if (which == TMouseButton::Left) CaptureFor(button);
        ButtonChanged(*button);
        return;
    }
    if (OnControl(x, y)) return;
    // Any button drags, so any button holds the pointer while it is down.
    FFormCapture = true;
    ::SetCapture(FHandle);
    FormMouseDown(which, x, y);
}

void TFMain::MouseUp(TMouseButton which, int x, int y) {
    if (FFormCapture) {
        FFormCapture = false;
        ::ReleaseCapture();
        FormMouseUp(which, x, y);
        return;
    }
    TImgBtn* button = FCapture ? FCapture : ButtonAt(x, y);
    if (button) {
        std::exception_ptr error;
        try {
            button->MouseUp(which, x - button->Left(), y - button->Top());
        } catch (...) {
            error = std::current_exception();
        }
        // The pointer goes back before any error box, which needs it.
        if (which == TMouseButton::Left) ReleaseCaptureOf(button);
        ButtonChanged(*button);
        if (error) ShowErrorBox(MessageOf(error));
        return;
    }
    if (!OnControl(x, y)) FormMouseUp(which, x, y);
}

// --- messages --------------------------------------------------------------------------------

LRESULT TFMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    switch (message) {
        case WM_ORVEX_RUN_QUEUED:
            FDispatcher.RunQueued();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_TIMER:
            if (wParam == Timer1) Guarded([this] { FModel.Timer1Timer(); });
            if (wParam == TipTimer) RefreshTips();
            return 0;
        case WM_MOUSEMOVE:
            MouseMove(x, y);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            MouseDown(TMouseButton::Left, x, y, message == WM_LBUTTONDBLCLK);
            return 0;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
            MouseDown(TMouseButton::Right, x, y, message == WM_RBUTTONDBLCLK);
            return 0;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONDBLCLK:
            MouseDown(TMouseButton::Middle, x, y, message == WM_MBUTTONDBLCLK);
            return 0;
        case WM_LBUTTONUP:
            MouseUp(TMouseButton::Left, x, y);
            return 0;
        case WM_RBUTTONUP:
            MouseUp(TMouseButton::Right, x, y);
            return 0;
        case WM_MBUTTONUP:
            MouseUp(TMouseButton::Middle, x, y);
            return 0;
        case WM_CAPTURECHANGED:
            // Someone else took the pointer.
            if (reinterpret_cast<HWND>(lParam) != FHandle) {
                FCapture = nullptr;
                FFormCapture = false;
            }
            return 0;
        case WM_CLOSE:
            Guarded([this] { FModel.FormClose(); });
            ::DestroyWindow(FHandle);
            return 0;
        case WM_DESTROY:
            // Reports of a run still working fail from now on instead of reaching freed controls.
            FDispatcher.SetWindow(nullptr);
            ::KillTimer(FHandle, Timer1);
            ::KillTimer(FHandle, TipTimer);
            FWebBrowser1.Destroy();
            ::RemovePropW(FHandle, SInstanceProperty);
            ::PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            // The window procedure lets go of this object and of FHandle after this.
            return 0;
        default:
            return ::DefWindowProcW(FHandle, message, wParam, lParam);
    }
}

}  // namespace orvex
