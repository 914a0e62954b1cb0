// The program's entry: COM, the application window that carries the title, one launcher per
// installation folder, the main window, the options window, the message loop.
#include "app/MainWindowModel.h"
#include "app/WindowDispatcher_win.h"
#include "app/UnitMain_win.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Win32_win.h"
#include "options/Frm2_win.h"
#include "ui/MessageBoxes_win.h"
#include "update/FolderLock.h"

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace orvex {

namespace {

constexpr const wchar_t* SApplicationClass = L"TApplication";

class Window {
public:
    explicit Window(HWND handle) : FHandle(handle) {}
    ~Window() {
        if (FHandle && ::IsWindow(FHandle)) ::DestroyWindow(FHandle);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND Get() const { return FHandle; }

private:
    HWND FHandle;
};

// The reports of a run may still be on their way when the window is gone; the dispatcher stays
// until the process ends.
TWindowDispatcher& Dispatcher() {
    static auto* dispatcher = new TWindowDispatcher;
    return *dispatcher;
}

HWND gMainWindow = nullptr;

// The taskbar entry: an empty window titled with the application title that hands everything to
// the main window (behaviour inherited from the UI framework's hidden application window).
LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            if (gMainWindow) ::PostMessageW(gMainWindow, WM_CLOSE, 0, 0);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE && gMainWindow && ::IsWindowEnabled(gMainWindow))
                ::SetActiveWindow(gMainWindow);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateApplicationWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.lpfnWndProc = &ApplicationProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = SApplicationClass;
    win32::RegisterWindowClass(windowClass);
    const std::wstring title = win32::Widen(SApplicationTitle, CP_ACP);
    return ::CreateWindowExW(0, SApplicationClass, title.c_str(),
                             WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                             ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                             nullptr, instance, nullptr);
}

struct FindRequest {
    uint32_t Tag;
    HWND Found;
};

BOOL CALLBACK MatchLauncher(HWND window, LPARAM lParam) {
    auto& request = *reinterpret_cast<FindRequest*>(lParam);
    wchar_t className[32] = {};
    ::GetClassNameW(window, className, 32);
    if (::lstrcmpW(className, SMainWindowClass) != 0) return TRUE;
    if (reinterpret_cast<uintptr_t>(::GetPropW(window, SInstanceProperty)) != request.Tag) return TRUE;
    request.Found = window;
    return FALSE;
}

// The first launcher may still be building its window: look for it a little while.
void BringToFront(uint32_t tag) {
    for (int attempt = 0; attempt < 30; ++attempt) {
        FindRequest request{tag, nullptr};
        ::EnumWindows(&MatchLauncher, reinterpret_cast<LPARAM>(&request));
        if (request.Found) {
            const HWND target = ::GetLastActivePopup(request.Found);
            if (::IsIconic(request.Found)) ::ShowWindow(request.Found, SW_RESTORE);
            ::SetForegroundWindow(target ? target : request.Found);
            return;
        }
        ::Sleep(100);
    }
}

int RunLauncher(HINSTANCE instance) {
    ::SetProcessDPIAware();
    const win32::TOleInit ole;

    // Shared with orvex-update: one of them at a time updates the folder.
    std::unique_ptr<TFolderLock> folderLock;
    try {
        folderLock = std::make_unique<TFolderLock>(os::GetCurrentDir());
    } catch (const EInOutError& error) {
        ShowErrorBox(nullptr, error.what());
        return 1;
    }
    const uint32_t tag = InstanceTag(folderLock->Key());
    if (!folderLock->Held()) {
        BringToFront(tag);
        return 0;
    }

    const Window application(CreateApplicationWindow(instance));
    TFMain FMain(instance, application.Get(), Dispatcher(), tag);
    try {
        FMain.Create();
    } catch (const std::exception& error) {
        ShowErrorBox(nullptr, error.what());
        return 1;
    }
    if (FMain.Terminated()) return 0;
    gMainWindow = FMain.Handle();
    auto options = std::make_unique<TForm1>(instance, FMain.Handle(), *FMain.SettingsList());
    FMain.OnShowOptions = [&options] { options->ShowOver(); };

    ::ShowWindow(application.Get(), SW_SHOWNORMAL);
    ::ShowWindow(FMain.Handle(), SW_SHOWNORMAL);
    ::UpdateWindow(FMain.Handle());
    ::SetForegroundWindow(FMain.Handle());

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab and the arrow keys move between the options window's controls.
        if (options->Handle() && ::IsDialogMessageW(options->Handle(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    gMainWindow = nullptr;
    FMain.OnShowOptions = nullptr;
    options.reset();
    return static_cast<int>(message.wParam);
}

}  // namespace

}  // namespace orvex

// A window program has no console for the standard library's verbose terminate handler to write
// to; defining it here keeps that handler and the name demangler it calls (about 46 KB) out of the
// launcher. An exception that escapes everything still ends the process.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const int exitCode = orvex::RunLauncher(instance);
    // A run still working ends here with the process, wherever it stands.
    ::ExitProcess(static_cast<UINT>(exitCode));
}
