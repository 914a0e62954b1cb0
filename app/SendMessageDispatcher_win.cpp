#include "app/SendMessageDispatcher_win.h"

#include "base/Exceptions.h"

#include <exception>

namespace orvex {

namespace {

struct Call {
    const std::function<void()>* Callback;
    std::exception_ptr Error;
    bool Done = false;
};

constexpr const char* SWindowClosed = "The launcher window is closed";

}  // namespace

void TSendMessageDispatcher::Invoke(const std::function<void()>& callback) {
    const HWND window = FWindow.load();
    if (!window) throw Exception(SWindowClosed);
    Call call{&callback, nullptr, false};
    // SendMessage to a window destroyed meanwhile returns at once without running the call.
    ::SendMessageW(window, WM_ORVEX_INVOKE, 0, reinterpret_cast<LPARAM>(&call));
    if (!call.Done) throw Exception(SWindowClosed);
    if (call.Error) std::rethrow_exception(call.Error);
}

LRESULT TSendMessageDispatcher::Execute(LPARAM lParam) {
    Call& call = *reinterpret_cast<Call*>(lParam);
    try {
        (*call.Callback)();
    } catch (...) {
        call.Error = std::current_exception();
    }
    call.Done = true;
    return 0;
}

}  // namespace orvex
