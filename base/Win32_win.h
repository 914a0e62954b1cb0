#pragma once
// The Win32 pieces every window and OS file of the program shares: owners for handles, COM
// pointers, GDI objects and device contexts that give them back on every path, the COM and OLE
// guards, text conversion, the system's error texts, window classes bound to objects, and the
// double buffer the windows paint through.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <string>
#include <string_view>
#include <utility>

namespace orvex::win32 {

// A handle closed with Close: kernel handles with CloseHandle, searches with FindClose, WinINet
// handles with InternetCloseHandle. Functions report failure either as null or as
// INVALID_HANDLE_VALUE; both count as no handle.
template <class H, BOOL(WINAPI* Close)(H)>
class TOwnedHandle {
public:
    TOwnedHandle() = default;
    explicit TOwnedHandle(H handle) : FHandle(handle) {}
    ~TOwnedHandle() {
        if (Valid()) Close(FHandle);
    }
    TOwnedHandle(TOwnedHandle&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
    TOwnedHandle& operator=(TOwnedHandle&& other) noexcept {
        if (this != &other) {
            TOwnedHandle old(std::move(*this));
            FHandle = std::exchange(other.FHandle, nullptr);
        }
        return *this;
    }
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;

    bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
    H Get() const { return FHandle; }

private:
    H FHandle = nullptr;
};
using THandle = TOwnedHandle<HANDLE, ::CloseHandle>;
using TFindHandle = TOwnedHandle<HANDLE, ::FindClose>;

// A COM interface pointer that owns one reference.
template <class T>
class TComPtr {
public:
    TComPtr() = default;
    // Takes over the reference the caller holds (as a creating function hands one out).
    explicit TComPtr(T* owned) : FPtr(owned) {}
    // A reference of its own to an object someone else holds too.
    static TComPtr AddRefTo(T* shared) {
        if (shared) shared->AddRef();
        return TComPtr(shared);
    }
    ~TComPtr() {
        if (FPtr) FPtr->Release();
    }
    TComPtr(TComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    TComPtr& operator=(TComPtr&& other) noexcept {
        if (this != &other) {
            TComPtr old(std::move(*this));
            FPtr = std::exchange(other.FPtr, nullptr);
        }
        return *this;
    }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;

    T* Get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // For functions that hand out a new reference through a void**: the old one goes first.
    void** Out() {
        Reset();
        return reinterpret_cast<void**>(&FPtr);
    }
    // The pointer is null before the reference goes, so code the release runs sees it gone.
    void Reset() { TComPtr old(std::move(*this)); }

private:
    T* FPtr = nullptr;
};

// A GDI object (bitmap, brush, font, region, pen) deleted with DeleteObject.
template <class H>
class TGdiObject {
public:
    TGdiObject() = default;
    explicit TGdiObject(H object) : FObject(object) {}
    ~TGdiObject() {
        if (FObject) ::DeleteObject(FObject);
    }
    TGdiObject(TGdiObject&& other) noexcept : FObject(std::exchange(other.FObject, nullptr)) {}
    TGdiObject& operator=(TGdiObject&& other) noexcept {
        if (this != &other) {
            TGdiObject old(std::move(*this));
            FObject = std::exchange(other.FObject, nullptr);
        }
        return *this;
    }
    TGdiObject(const TGdiObject&) = delete;
    TGdiObject& operator=(const TGdiObject&) = delete;

    H Get() const { return FObject; }
    explicit operator bool() const { return FObject != nullptr; }
    // Hands the object to a new owner (a window region belongs to the window once set).
    H Detach() { return std::exchange(FObject, nullptr); }

private:
    H FObject = nullptr;
};

// Selects an object into a DC and selects the previous one back when it goes, so the object can be
// deleted afterwards.
class TSelectObject {
public:
    TSelectObject(HDC dc, HGDIOBJ object) : FDC(dc), FOld(::SelectObject(dc, object)) {}
    ~TSelectObject() {
        if (FOld && FOld != HGDI_ERROR) ::SelectObject(FDC, FOld);
    }
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;

private:
    HDC FDC;
    HGDIOBJ FOld;
};

// GetDC/ReleaseDC: the client area of a window, the whole screen for the null window.
class TWindowDC {
public:
    explicit TWindowDC(HWND window = nullptr) : FWindow(window), FDC(::GetDC(window)) {}
    ~TWindowDC() {
        if (FDC) ::ReleaseDC(FWindow, FDC);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const { return FDC; }

private:
    HWND FWindow;
    HDC FDC;
};

// A memory DC compatible with `like` (with the screen for null), deleted with DeleteDC.
class TMemoryDC {
public:
    explicit TMemoryDC(HDC like) : FDC(::CreateCompatibleDC(like)) {}
    ~TMemoryDC() {
        if (FDC) ::DeleteDC(FDC);
    }
    TMemoryDC(const TMemoryDC&) = delete;
    TMemoryDC& operator=(const TMemoryDC&) = delete;
    HDC Get() const { return FDC; }

private:
    HDC FDC;
};

// Draws into a memory bitmap of the target's kind and copies one area of it to the target, on
// Present or when it goes: a window painted this way does not flicker.
class TDoubleBuffer {
public:
    // `area` is what Present copies, at the same place in both.
    TDoubleBuffer(HDC target, int width, int height, const RECT& area)
        : FTarget(target),
          FArea(area),
          FBuffer(target),
          FBitmap(::CreateCompatibleBitmap(target, width, height)),
          FSelected(FBuffer.Get(), FBitmap.Get()) {}
    ~TDoubleBuffer() {
        if (!FPresented) Present();
    }
    TDoubleBuffer(const TDoubleBuffer&) = delete;
    TDoubleBuffer& operator=(const TDoubleBuffer&) = delete;

    HDC DC() const { return FBuffer.Get(); }
    void Present() {
        FPresented = true;
        ::BitBlt(FTarget, FArea.left, FArea.top, FArea.right - FArea.left, FArea.bottom - FArea.top, FBuffer.Get(),
                 FArea.left, FArea.top, SRCCOPY);
    }

private:
    HDC FTarget;
    RECT FArea;
    TMemoryDC FBuffer;
    TGdiObject<HBITMAP> FBitmap;
    TSelectObject FSelected;  // last: the bitmap leaves the DC before either goes
    bool FPresented = false;
};

// COM (CoInitialize) or OLE (OleInitialize: COM plus drag and drop, clipboard and in-place
// activation) for the calling thread, single-threaded apartment, while the object lives.
template <HRESULT(WINAPI* Initialize)(LPVOID), void(WINAPI* Uninitialize)()>
class TApartment {
public:
    TApartment() : FInitialized(SUCCEEDED(Initialize(nullptr))) {}
    ~TApartment() {
        if (FInitialized) Uninitialize();
    }
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;

private:
    bool FInitialized;
};
using TComInit = TApartment<::CoInitialize, ::CoUninitialize>;
using TOleInit = TApartment<::OleInitialize, ::OleUninitialize>;

// The text in UTF-16, read in the given code page (CP_ACP, CP_UTF8). Empty when the system cannot
// convert it; GetLastError then says why.
std::wstring Widen(std::string_view text, UINT codePage);

// The system's message for an error code without its line break and full stop; "System error N"
// when the system has none.
std::string ErrorCodeText(DWORD code);

// The system's message for an HRESULT without trailing blanks and full stop; "OLE error 8XXXXXXX"
// when the system has none.
std::string HResultText(HRESULT result);

// Registers a window class of this module unless it is there already (a second object of a kind
// registers again); cbSize is filled in. False when the class is neither registered nor there.
bool RegisterWindowClass(WNDCLASSEXW windowClass);

// The window procedure of a class whose windows each belong to an object of T: CreateWindowEx gets
// the object as its creation parameter, the object learns its window in Handle before its first
// message, and every message goes to Handler until the window is gone, when Handle is null again.
// Messages before WM_NCCREATE go to DefWindowProc.
template <class T, HWND T::*Handle, LRESULT (T::*Handler)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK WindowProcOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->*Handle = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<T*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = (self->*Handler)(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->*Handle = nullptr;
    }
    return result;
}

}  // namespace orvex::win32
