#pragma once
// Runs a run's reports in the main window's thread. Reports wait in a queue, which the window
// empties on one posted message per burst: a report that arrives while others wait costs the run
// no message and no wait. Once the window is gone the reports fail without running.
#include "update/Dispatcher.h"

#include <windows.h>

#include <atomic>

namespace orvex {

inline constexpr UINT WM_ORVEX_RUN_QUEUED = WM_APP + 1;

class TWindowDispatcher final : public IDispatcher {
public:
    TWindowDispatcher();

    // On the window's thread: the window whose procedure calls RunQueued on WM_ORVEX_RUN_QUEUED;
    // null when it is destroyed.
    void SetWindow(HWND window);

    void Invoke(const std::function<void()>& callback) override { FCalls.Invoke(callback); }
    void Post(std::function<void()> callback) override { FCalls.Post(std::move(callback)); }

    // Called by the window procedure on WM_ORVEX_RUN_QUEUED.
    void RunQueued();

private:
    std::atomic<HWND> FWindow{nullptr};
    DWORD FLastPaint = 0;
    TCallQueue FCalls;
};

}  // namespace orvex
