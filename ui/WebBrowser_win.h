#pragma once
// The Windows WebBrowser control, hosted in a child window of our own without any framework.
// COM must be initialised (single-threaded apartment) on the calling thread before Create.
#include "base/Win32_win.h"

#include <functional>
#include <string>

struct IOleObject;
struct IWebBrowser2;
struct IConnectionPoint;

namespace orvex {

class TWebBrowserHost {
public:
    TWebBrowserHost();
    ~TWebBrowserHost();
    TWebBrowserHost(const TWebBrowserHost&) = delete;
    TWebBrowserHost& operator=(const TWebBrowserHost&) = delete;

    // Makes the host window inside parent at rect (parent's client coordinates) and activates the
    // control in it. Raises orvex::Exception with the system's text when the control cannot be made.
    void Create(HWND parent, const RECT& rect);
    // Starts a navigation; it goes on by itself. Raises orvex::Exception when the control refuses,
    // and without a control the error that kept Create from making one.
    void Navigate(const std::string& url);
    void SetBounds(const RECT& rect);
    void Resize(int width, int height);
    // Disconnects and releases the control; the host may be created again afterwards.
    void Destroy();

    bool Created() const { return static_cast<bool>(FBrowser); }
    HWND Handle() const { return FWindow; }
    // Events of any kind the control has sent this host since Create.
    long EventsReceived() const { return FEventsReceived; }

    // Called on the thread of the control for every completed navigation. Must not throw.
    std::function<void()> OnNavigateComplete2;

    // COM objects of ours (sites, event sinks) still alive in this process; zero once every host
    // has been destroyed and the controls have let go of them.
    static long LiveObjects();

private:
    class TSite;
    class TEventSink;
    friend class TSite;
    friend class TEventSink;

    void NavigateCompleted();

    HWND FWindow = nullptr;
    win32::TComPtr<TSite> FSite;
    win32::TComPtr<TEventSink> FSink;
    win32::TComPtr<IOleObject> FOleObject;
    win32::TComPtr<IWebBrowser2> FBrowser;
    win32::TComPtr<IConnectionPoint> FConnectionPoint;
    unsigned long FCookie = 0;
    long FEventsReceived = 0;
    std::string FCreateError;
};

}  // namespace orvex
