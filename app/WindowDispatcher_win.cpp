#include "app/WindowDispatcher_win.h"

namespace orvex {

namespace {

constexpr const char* SWindowClosed = "The launcher window is closed";

// Posted messages come before painting, so a run that reports without pause would hold the bars
// still; the window paints itself at least this often while it runs reports.
constexpr DWORD PaintEveryMs = 40;

}  // namespace

TWindowDispatcher::TWindowDispatcher()
    : FCalls(
          [this] {
              const HWND window = FWindow.load();
              return window && ::PostMessageW(window, WM_ORVEX_RUN_QUEUED, 0, 0);
          },
          SWindowClosed) {}

void TWindowDispatcher::SetWindow(HWND window) {
    FWindow.store(window);
    if (window)
        FCalls.Open(std::this_thread::get_id());
    else
        FCalls.Close();
}

void TWindowDispatcher::RunQueued() {
    FCalls.RunQueued();
    const HWND window = FWindow.load();
    const DWORD now = ::GetTickCount();
    if (window && now - FLastPaint >= PaintEveryMs) {
        FLastPaint = now;
        ::UpdateWindow(window);
    }
}

}  // namespace orvex
