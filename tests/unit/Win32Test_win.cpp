// The shared Win32 owners and helpers: what each gives back and when, and the texts they make.
#include "base/Win32_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvex::win32;

namespace {

TEST(Win32Text, WidenReadsTheGivenCodePage) {
    struct Case {
        std::string Text;
        UINT CodePage;
        std::wstring Wide;
    };
    const Case cases[] = {
        {"", CP_UTF8, L""},
        {"files.lst", CP_ACP, L"files.lst"},
        {"\xD0\x9B\xD1\x83\xD1\x82 :", CP_UTF8, L"\u041B\u0443\u0442 :"},  // "Лут :"
        {std::string("a\0b", 3), CP_ACP, std::wstring(L"a\0b", 3)},            // the whole text, not up to a NUL
    };
    for (const Case& c : cases) EXPECT_EQ(Widen(c.Text, c.CodePage), c.Wide) << c.Text;
}

TEST(Win32Text, SystemTextsLoseTheirEndingOrFallBack) {
    const std::string missing = ErrorCodeText(ERROR_FILE_NOT_FOUND);
    const std::string noInterface = HResultText(E_NOINTERFACE);
    for (const std::string& text : {missing, noInterface}) {
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), '.') << text;
        EXPECT_GT(static_cast<unsigned char>(text.back()), ' ') << text;
    }
    // Codes the system has no message for (the customer bit is set).
    EXPECT_EQ(ErrorCodeText(0x20001234), "System error 536875572");
    EXPECT_EQ(HResultText(static_cast<HRESULT>(0xA0001234)), "OLE error A0001234");
}

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != 0;
}

TEST(Win32Owners, HandleClosesOnceAndTakesNoFailureValueForAHandle) {
    EXPECT_FALSE(THandle().Valid());
    EXPECT_FALSE(THandle(INVALID_HANDLE_VALUE).Valid());
    const HANDLE first = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE second = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        THandle owner(first);
        EXPECT_TRUE(owner.Valid());
        THandle moved(std::move(owner));
        EXPECT_FALSE(owner.Valid());
        moved = THandle(second);  // the first goes now
        EXPECT_FALSE(IsOpen(first));
        EXPECT_TRUE(IsOpen(second));
    }
    EXPECT_FALSE(IsOpen(second));
}

// Counts references and records what its owner held at each release.
struct TCounted : IUnknown {
    ULONG Count = 1;
    TComPtr<TCounted>* Owner = nullptr;
    std::vector<bool> OwnerHeldAtRelease;
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++Count; }
    STDMETHODIMP_(ULONG) Release() override {
        if (Owner) OwnerHeldAtRelease.push_back(static_cast<bool>(*Owner));
        return --Count;
    }
};

TEST(Win32Owners, ComPointerReleasesItsOneReferenceAfterLettingGo) {
    TCounted object;
    {
        TComPtr<TCounted> shared = TComPtr<TCounted>::AddRefTo(&object);
        EXPECT_EQ(object.Count, 2u);
        object.Owner = &shared;
        shared.Reset();  // code run by the release must not find the pointer still there
        EXPECT_EQ(object.Count, 1u);
        EXPECT_EQ(object.OwnerHeldAtRelease, std::vector<bool>{false});
        object.Owner = nullptr;
        TComPtr<TCounted> owned(&object);  // takes over the reference we hold
    }
    EXPECT_EQ(object.Count, 0u);
}

COLORREF PixelAt(HDC dc, int x, int y) { return ::GetPixel(dc, x, y); }

TEST(Win32Painting, SelectionGoesBackAndTheBufferCopiesOnlyItsArea) {
    // A 32-bit picture as the target, so the colours come back as they were drawn.
    BITMAPINFO header{};
    header.bmiHeader = {sizeof header.bmiHeader, 40, -30, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const TMemoryDC target(nullptr);
    const TGdiObject<HBITMAP> picture(::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(picture);
    const TSelectObject pictureSelected(target.Get(), picture.Get());
    const RECT all{0, 0, 40, 30};
    ::FillRect(target.Get(), &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));

    const TGdiObject<HBRUSH> red(::CreateSolidBrush(RGB(255, 0, 0)));
    const HGDIOBJ before = ::GetCurrentObject(target.Get(), OBJ_BRUSH);
    {
        TDoubleBuffer buffer(target.Get(), 40, 30, RECT{10, 5, 20, 15});
        const TSelectObject brushSelected(buffer.DC(), red.Get());
        ::PatBlt(buffer.DC(), 0, 0, 40, 30, PATCOPY);
        EXPECT_EQ(PixelAt(target.Get(), 12, 7), RGB(0, 0, 0));  // nothing copied before the end
    }
    EXPECT_EQ(::GetCurrentObject(target.Get(), OBJ_BRUSH), before);
    EXPECT_EQ(PixelAt(target.Get(), 10, 5), RGB(255, 0, 0));
    EXPECT_EQ(PixelAt(target.Get(), 19, 14), RGB(255, 0, 0));
    EXPECT_EQ(PixelAt(target.Get(), 20, 14), RGB(0, 0, 0));
    EXPECT_EQ(PixelAt(target.Get(), 9, 5), RGB(0, 0, 0));

    {
        TDoubleBuffer buffer(target.Get(), 40, 30, all);
        ::FillRect(buffer.DC(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        buffer.Present();
        ::FillRect(buffer.DC(), &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    }  // presented already: the black is not copied
    EXPECT_EQ(PixelAt(target.Get(), 0, 0), RGB(255, 255, 255));
}

// A window bound to an object through WindowProcOf; message-only, so no display is needed.
struct TProbe {
    HWND FHandle = nullptr;
    std::vector<UINT> Seen;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        Seen.push_back(message);
        if (message == WM_APP) return 42;
        return ::DefWindowProcW(FHandle, message, wParam, lParam);
    }
};

TEST(Win32Windows, ClassRegistersOnceAndBindsEachWindowToItsObject) {
    WNDCLASSEXW windowClass{};
    windowClass.lpfnWndProc = &WindowProcOf<TProbe, &TProbe::FHandle, &TProbe::HandleMessage>;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrvexWin32Probe";
    ASSERT_TRUE(RegisterWindowClass(windowClass));
    EXPECT_TRUE(RegisterWindowClass(windowClass));  // a second object of the kind registers again

    TProbe first, second;
    const HWND one = ::CreateWindowExW(0, L"OrvexWin32Probe", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                       windowClass.hInstance, &first);
    const HWND two = ::CreateWindowExW(0, L"OrvexWin32Probe", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                       windowClass.hInstance, &second);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(first.FHandle, one);
    EXPECT_EQ(second.FHandle, two);
    ASSERT_FALSE(first.Seen.empty());
    EXPECT_EQ(first.Seen.front(), static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(::SendMessageW(two, WM_APP, 0, 0), 42);
    EXPECT_EQ(second.Seen.back(), static_cast<UINT>(WM_APP));
    EXPECT_NE(first.Seen.back(), static_cast<UINT>(WM_APP));

    ::DestroyWindow(one);
    EXPECT_EQ(first.FHandle, nullptr);
    EXPECT_EQ(first.Seen.back(), static_cast<UINT>(WM_NCDESTROY));
    ::DestroyWindow(two);
    EXPECT_EQ(second.FHandle, nullptr);
}

}  // namespace
