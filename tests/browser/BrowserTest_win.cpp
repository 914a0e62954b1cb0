// The WebBrowser control hosted in a window shaped like the launcher's news panel.
#include <windows.h>
#include <objbase.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "base/Exceptions.h"
#include "base/Win32_win.h"
#include "ui/WebBrowser_win.h"

namespace orvex {
namespace {

using ::testing::AnyOf;
using ::testing::StrEq;

// Top-level window of the launcher's size with the news panel inside, as the main window lays it out.
class TTestWindow {
public:
    TTestWindow() {
        WNDCLASSEXW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = L"OrvexBrowserTest";
        EXPECT_TRUE(win32::RegisterWindowClass(wc));
        Window = ::CreateWindowExW(0, L"OrvexBrowserTest", L"FormMain", WS_POPUP | WS_VISIBLE, 100, 50, 800, 599,
                                   nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        Panel = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 12, 42, 774, 439, Window,
                                  nullptr, ::GetModuleHandleW(nullptr), nullptr);
    }
    ~TTestWindow() { ::DestroyWindow(Window); }
    HWND Window = nullptr;
    HWND Panel = nullptr;
};

const RECT BrowserRect{-2, -2, 776, 441};

// Runs the message loop until done() or the time is up; true when done() came true.
template <typename Done>
bool PumpUntil(Done done, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

void PumpFor(int milliseconds) { PumpUntil([] { return false; }, milliseconds); }

// What one navigation came to: refused with a text, or accepted and then completed or not.
struct TNavigation {
    bool Refused = false;
    std::string Error;
    int Completions = 0;
};

TNavigation NavigateAndWait(TWebBrowserHost& host, const std::string& url, int milliseconds) {
    TNavigation result;
    host.OnNavigateComplete2 = [&result] { ++result.Completions; };
    try {
        host.Navigate(url);
    } catch (const Exception& e) {
        result.Refused = true;
        result.Error = e.what();
    }
    if (!result.Refused) PumpUntil([&result] { return result.Completions > 0; }, milliseconds);
    host.OnNavigateComplete2 = nullptr;
    std::printf("navigate %s: %s%s, NavigateComplete2 fired %d time(s)\n", url.c_str(),
                result.Refused ? "refused: " : "accepted", result.Error.c_str(), result.Completions);
    return result;
}

class WebBrowserHostTest : public ::testing::Test {
protected:
    // One window for the suite: under Wine without a window manager every top-level window that
    // goes away costs a few seconds.
    static void SetUpTestSuite() { Window = new TTestWindow; }
    static void TearDownTestSuite() {
        delete Window;
        Window = nullptr;
    }

    // Creation either works or fails with the system's text; the tests go on with what it did.
    bool CreateInPanel() {
        try {
            Host.Create(Window->Panel, BrowserRect);
            return true;
        } catch (const Exception& e) {
            CreateError = e.what();
            std::printf("creation failed: %s\n", CreateError.c_str());
            EXPECT_FALSE(CreateError.empty());
            EXPECT_FALSE(Host.Created());
            EXPECT_EQ(Host.Handle(), nullptr);
            return false;
        }
    }
    void TearDown() override {
        Host.Destroy();
        // The control may let go of our objects only once its posted messages have run.
        PumpUntil([] { return TWebBrowserHost::LiveObjects() == 0; }, 2000);
        EXPECT_EQ(TWebBrowserHost::LiveObjects(), 0);
    }

    static TTestWindow* Window;
    TWebBrowserHost Host;
    std::string CreateError;
};

TTestWindow* WebBrowserHostTest::Window = nullptr;

TEST_F(WebBrowserHostTest, SitsInThePanelOutOfTheTabOrderAndFollowsItsBounds) {
    if (!CreateInPanel()) GTEST_SKIP() << "the control cannot be created here";
    EXPECT_GT(TWebBrowserHost::LiveObjects(), 0);
    const HWND hostWindow = Host.Handle();
    ASSERT_NE(hostWindow, nullptr);
    EXPECT_EQ(::GetParent(hostWindow), Window->Panel);
    EXPECT_EQ(::GetWindowLongW(hostWindow, GWL_STYLE) & WS_TABSTOP, 0);

    auto boundsInPanel = [&] {
        RECT rect{};
        ::GetWindowRect(hostWindow, &rect);
        ::MapWindowPoints(HWND_DESKTOP, Window->Panel, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    RECT rect = boundsInPanel();
    EXPECT_EQ(rect.left, -2);
    EXPECT_EQ(rect.top, -2);
    EXPECT_EQ(rect.right - rect.left, 778);
    EXPECT_EQ(rect.bottom - rect.top, 443);
    // The control's own window lives inside ours and fills it.
    const HWND control = ::GetWindow(hostWindow, GW_CHILD);
    ASSERT_NE(control, nullptr);
    RECT controlRect{};
    ::GetWindowRect(control, &controlRect);
    EXPECT_EQ(controlRect.right - controlRect.left, 778);
    EXPECT_EQ(controlRect.bottom - controlRect.top, 443);

    Host.SetBounds(RECT{5, 6, 305, 206});
    rect = boundsInPanel();
    EXPECT_EQ(rect.left, 5);
    EXPECT_EQ(rect.top, 6);
    EXPECT_EQ(rect.right, 305);
    EXPECT_EQ(rect.bottom, 206);
    ::GetWindowRect(control, &controlRect);
    EXPECT_EQ(controlRect.right - controlRect.left, 300);
    EXPECT_EQ(controlRect.bottom - controlRect.top, 200);

    Host.Resize(100, 50);
    rect = boundsInPanel();
    EXPECT_EQ(rect.left, 5);
    EXPECT_EQ(rect.top, 6);
    EXPECT_EQ(rect.right - rect.left, 100);
    EXPECT_EQ(rect.bottom - rect.top, 50);
}

TEST_F(WebBrowserHostTest, CreationFailureRaisesTheSystemTextAndLeavesNothingBehind) {
    const HWND notAWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7ff0));
    try {
        Host.Create(notAWindow, BrowserRect);
        FAIL() << "created inside a window that does not exist";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Invalid window handle");
    }
    EXPECT_FALSE(Host.Created());
    EXPECT_EQ(Host.Handle(), nullptr);
    EXPECT_EQ(TWebBrowserHost::LiveObjects(), 0);
    // The news request then tells why there is no browser.
    try {
        Host.Navigate("about:blank");
        FAIL() << "navigated without a control";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Invalid window handle");
    }
}

TEST_F(WebBrowserHostTest, ControlThatCannotBeMadeRaisesTheSystemTextForItsError) {
    // A thread without COM cannot make the control.
    std::string error;
    long objectsAfter = -1;
    std::thread([&] {
        const HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                              ::GetModuleHandleW(nullptr), nullptr);
        TWebBrowserHost host;
        try {
            host.Create(parent, RECT{0, 0, 100, 100});
        } catch (const Exception& e) {
            error = e.what();
        }
        objectsAfter = TWebBrowserHost::LiveObjects();
        ::DestroyWindow(parent);
    }).join();
    // Windows has a text for CO_E_NOTINITIALIZED; Wine's message table has none for COM errors.
    EXPECT_THAT(error, AnyOf("CoInitialize has not been called", "OLE error 800401F0"));
    EXPECT_EQ(objectsAfter, 0);
}

TEST_F(WebBrowserHostTest, NavigateBeforeCreateRaisesTheSystemText) {
    try {
        Host.Navigate("about:blank");
        FAIL() << "navigated without a control";
    } catch (const Exception& e) {
        EXPECT_THAT(e.what(), AnyOf(StrEq("Catastrophic failure"), StrEq("OLE error 8000FFFF")));
    }
}

TEST_F(WebBrowserHostTest, CreatedAgainAfterDestroy) {
    if (!CreateInPanel()) GTEST_SKIP() << "the control cannot be created here";
    const long objects = TWebBrowserHost::LiveObjects();
    Host.Destroy();
    EXPECT_FALSE(Host.Created());
    EXPECT_EQ(Host.Handle(), nullptr);
    PumpUntil([] { return TWebBrowserHost::LiveObjects() == 0; }, 2000);
    EXPECT_EQ(TWebBrowserHost::LiveObjects(), 0);
    ASSERT_TRUE(CreateInPanel());
    EXPECT_EQ(TWebBrowserHost::LiveObjects(), objects);
}

// A navigation the control accepts talks back through the event connection, whatever page it ends on.
TEST_F(WebBrowserHostTest, NavigatesToAboutBlank) {
    if (!CreateInPanel()) GTEST_SKIP() << "the control cannot be created here";
    const TNavigation navigation = NavigateAndWait(Host, "about:blank", 3000);
    if (navigation.Refused) {
        EXPECT_FALSE(navigation.Error.empty());
    } else {
        PumpUntil([&] { return Host.EventsReceived() > 0; }, 2000);
        EXPECT_GT(Host.EventsReceived(), 0);
    }
}

TEST_F(WebBrowserHostTest, NavigatesToAPageOfTheWebServer) {
    const char* dir = std::getenv("ORVEX_E2E_DIR");
    if (!dir) GTEST_SKIP() << "ORVEX_E2E_DIR is not set";
    std::ifstream urlFile(std::string(dir) + "/url");
    std::string base;
    if (!(urlFile >> base)) GTEST_SKIP() << "the web server is not running";
    {
        std::ofstream page(std::string(dir) + "/www/news.html", std::ios::binary);
        page << "<html><body style=\"background:#203040;color:#e0e0e0\"><h1>News</h1></body></html>";
    }
    if (!CreateInPanel()) GTEST_SKIP() << "the control cannot be created here";
    const std::string request = "news.html?probe=" + std::to_string(::GetTickCount());
    const TNavigation navigation = NavigateAndWait(Host, base + request, 5000);
    if (navigation.Refused) {
        EXPECT_FALSE(navigation.Error.empty());
        return;
    }
    // The address reached the server as it was given.
    auto requested = [&] {
        std::ifstream log(std::string(dir) + "/logs/access.log");
        std::string line;
        while (std::getline(log, line))
            if (line.find("\"GET /" + request + " ") != std::string::npos) return true;
        return false;
    };
    PumpUntil(requested, 3000);
    EXPECT_TRUE(requested());
    EXPECT_GT(Host.EventsReceived(), 0);
}

TEST_F(WebBrowserHostTest, DestroyInsideTheCompletionHandlerIsSafe) {
    if (!CreateInPanel()) GTEST_SKIP() << "the control cannot be created here";
    bool fired = false;
    Host.OnNavigateComplete2 = [&] {
        fired = true;
        Host.Destroy();
    };
    try {
        Host.Navigate("about:blank");
    } catch (const Exception& e) {
        GTEST_SKIP() << "navigation refused: " << e.what();
    }
    PumpUntil([&] { return fired; }, 3000);
    if (!fired) GTEST_SKIP() << "the control completes no navigation here";
    EXPECT_FALSE(Host.Created());
}

}  // namespace

// Keeps a window with the browser on screen, for a look at what the control shows.
int ShowPage(const std::string& url, int seconds) {
    TTestWindow window;
    TWebBrowserHost host;
    try {
        host.Create(window.Panel, BrowserRect);
        host.OnNavigateComplete2 = [] { std::printf("NavigateComplete2\n"); };
        host.Navigate(url);
    } catch (const Exception& e) {
        std::printf("error: %s\n", e.what());
    }
    std::fflush(stdout);
    PumpFor(seconds * 1000);
    return 0;
}

}  // namespace orvex

int main(int argc, char** argv) {
    const orvex::win32::TComInit com;
    if (argc == 4 && std::string(argv[1]) == "--show") return orvex::ShowPage(argv[2], std::atoi(argv[3]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
