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

// The one owner behind the handle, COM and GDI owners below: it holds a value, gives it back with
// Release::Free when it goes, moves and never copies. Release::Owns tells a value that is given
// back from one that stands for none.
template <class T, class Release>
class TOwned {
public:
    TOwned() = default;
    explicit TOwned(T value) : FValue(value) {}
    ~TOwned() { Reset(); }
    TOwned(TOwned&& other) noexcept : FValue(other.Detach()) {}
    TOwned& operator=(TOwned&& other) noexcept {
        if (this != &other) {
            TOwned old(std::move(*this));
            FValue = other.Detach();
        }
        return *this;
    }
    TOwned(const TOwned&) = delete;
    TOwned& operator=(const TOwned&) = delete;

    T Get() const { return FValue; }
    bool Valid() const { return Release::Owns(FValue); }
    explicit operator bool() const { return Valid(); }
    // Hands the value to a new owner (a window region belongs to the window once set).
    T Detach() { return std::exchange(FValue, T{}); }
    // The value is gone from here before it is given back, so code the release runs sees it gone.
    void Reset() {
        const T old = Detach();
        if (Release::Owns(old)) Release::Free(old);
    }

protected:
    T* Address() { return &FValue; }

private:
    T FValue{};
};

// Functions that make handles report failure either as null or as INVALID_HANDLE_VALUE; both
// count as no handle.
template <class H, BOOL(WINAPI* Close)(H)>
struct TCloseWith {
    static bool Owns(H handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Free(H handle) { Close(handle); }
};

// A handle closed with Close: kernel handles with CloseHandle, searches with FindClose, WinINet
// handles with InternetCloseHandle.
template <class H, BOOL(WINAPI* Close)(H)>
using TOwnedHandle = TOwned<H, TCloseWith<H, Close>>;
using THandle = TOwnedHandle<HANDLE, ::CloseHandle>;
using TFindHandle = TOwnedHandle<HANDLE, ::FindClose>;

struct TReleaseReference {
    template <class T>
    static bool Owns(T* object) { return object != nullptr; }
    template <class T>
    static void Free(T* object) { object->Release(); }
};

// A COM interface pointer that owns one reference.
template <class T>
class TComPtr : public TOwned<T*, TReleaseReference> {
public:
    TComPtr() = default;
    // Takes over the reference the caller holds (as a creating function hands one out).
    explicit TComPtr(T* owned) : TOwned<T*, TReleaseReference>(owned) {}
    // A reference of its own to an object someone else holds too.
    static TComPtr AddRefTo(T* shared) {
        if (shared) shared->AddRef();
        return TComPtr(shared);
    }

    T* operator->() const { return this->Get(); }
    // For functions that hand out a new reference through a void**: the old one goes first.
    void** Out() {
        this->Reset();
        return reinterpret_cast<void**>(this->Address());
    }
};

struct TDeleteObject {
    static bool Owns(HGDIOBJ object) { return object != nullptr; }
    static void Free(HGDIOBJ object) { ::DeleteObject(object); }
};

// A GDI object (bitmap, brush, font, region, pen) deleted with DeleteObject.
template <class H>
using TGdiObject = TOwned<H, TDeleteObject>;

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
