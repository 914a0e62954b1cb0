#pragma once
// Runs a run's reports in the main window's thread: SendMessage of a private message that carries
// the callback. Once the window is gone the reports fail without running.
#include "update/Dispatcher.h"

#include <windows.h>

#include <atomic>

namespace orvex {

inline constexpr UINT WM_ORVEX_INVOKE = WM_APP + 1;

class TSendMessageDispatcher final : public IDispatcher {
public:
    // The window whose procedure hands WM_ORVEX_INVOKE to Execute; null when it is destroyed.
    void SetWindow(HWND window) { FWindow.store(window); }

    void Invoke(const std::function<void()>& callback) override;

    // Called by the window procedure with the message's lParam.
    static LRESULT Execute(LPARAM call);

private:
    std::atomic<HWND> FWindow{nullptr};
};

}  // namespace orvex
