#include "ui/WebBrowser_win.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <oleauto.h>

#include <atomic>
#include <memory>

#include "base/Exceptions.h"
#include "base/Os.h"

namespace orvex {

namespace {

std::atomic<long> GLiveObjects{0};

// The system's text for an HRESULT, as the framework reports OLE errors.
std::string OleErrorText(HRESULT hr) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    while (!result.empty() && (static_cast<unsigned char>(result.back()) <= ' ' || result.back() == '.'))
        result.pop_back();
    if (result.empty()) result = Format("OLE error %.8X", static_cast<unsigned>(hr));
    return result;
}

void Check(HRESULT hr) {
    if (FAILED(hr)) throw Exception(OleErrorText(hr));
}

struct BstrDeleter {
    void operator()(BSTR text) const { ::SysFreeString(text); }
};
using TBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

// The address in UTF-16, read in the ANSI code page like every other text of the program.
TBstr AnsiToBstr(const std::string& text) {
    const int size = static_cast<int>(text.size());
    const int wide = size ? ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0) : 0;
    if (size && !wide) throw Exception(os::ErrorText(os::LastError()));
    TBstr result(::SysAllocStringLen(nullptr, static_cast<UINT>(wide)));
    if (!result) Check(E_OUTOFMEMORY);
    if (wide) ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, result.get(), wide);
    return result;
}

template <typename T>
void ReleaseAndClear(T*& pointer) {
    if (pointer) {
        T* held = pointer;
        pointer = nullptr;
        held->Release();
    }
}

const wchar_t* const HostClassName = L"OrvexBrowserHost";

void RegisterHostClass() {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = HostClassName;
        return ::RegisterClassW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered) throw Exception(os::ErrorText(os::LastError()));
}

// Reference counting shared by our COM objects; counts the live ones for the leak checks.
class TComObject {
public:
    TComObject() { ++GLiveObjects; }
    virtual ~TComObject() { --GLiveObjects; }
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

protected:
    ULONG AddRefImpl() { return static_cast<ULONG>(::InterlockedIncrement(&FRefCount)); }
    ULONG ReleaseImpl() {
        const LONG count = ::InterlockedDecrement(&FRefCount);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    LONG FRefCount = 1;
};

}  // namespace

// The container's side of the control: client site, in-place site and the frame it asks for.
class TWebBrowserHost::TSite final : public TComObject,
                                     public IOleClientSite,
                                     public IOleInPlaceSite,
                                     public IOleInPlaceFrame {
public:
    explicit TSite(HWND window) : FWindow(window) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            *object = static_cast<IOleInPlaceFrame*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, for both the site and the frame
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = FWindow;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        if (!frame || !document || !position || !clip || !info) return E_POINTER;
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        ::GetClientRect(FWindow, position);
        *clip = *position;
        info->fMDIApp = FALSE;
        info->hwndFrame = ::GetAncestor(FWindow, GA_ROOT);
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow: no tool space to give
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

    // IOleInPlaceFrame: no menus, no status bar, no accelerators of the frame
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND FWindow;
};

// Receives the control's events; only NavigateComplete2 is of interest.
class TWebBrowserHost::TEventSink final : public TComObject, public IDispatch {
public:
    explicit TEventSink(TWebBrowserHost* host) : FHost(host) {}
    // The host is going away; events that still arrive are dropped.
    void Detach() { FHost = nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (!FHost) return S_OK;
        ++FHost->FEventsReceived;
        if (id != DISPID_NAVIGATECOMPLETE2) return S_OK;
        // The handler may destroy the host; keep this object alive until we return.
        AddRef();
        HRESULT result = S_OK;
        try {
            FHost->NavigateCompleted();
        } catch (...) {
            result = DISP_E_EXCEPTION;
        }
        Release();
        return result;
    }

private:
    TWebBrowserHost* FHost;
};

long TWebBrowserHost::LiveObjects() { return GLiveObjects.load(); }

TWebBrowserHost::~TWebBrowserHost() { Destroy(); }

void TWebBrowserHost::Create(HWND parent, const RECT& rect) {
    Destroy();
    FEventsReceived = 0;
    FCreateError.clear();
    try {
        RegisterHostClass();
        // No WS_TABSTOP: the news page is skipped by the Tab key.
        FWindow = ::CreateWindowExW(0, HostClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                    rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                    nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (!FWindow) throw Exception(os::ErrorText(os::LastError()));

        Check(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                 reinterpret_cast<void**>(&FOleObject)));
        FSite = new TSite(FWindow);
        Check(FOleObject->SetClientSite(FSite));
        Check(FOleObject->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&FBrowser)));

        IConnectionPointContainer* container = nullptr;
        Check(FOleObject->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
        const HRESULT found = container->FindConnectionPoint(DIID_DWebBrowserEvents2, &FConnectionPoint);
        container->Release();
        Check(found);
        FSink = new TEventSink(this);
        const HRESULT advised = FConnectionPoint->Advise(FSink, &FCookie);
        if (FAILED(advised)) {
            ReleaseAndClear(FConnectionPoint);
            Check(advised);
        }

        RECT client{};
        ::GetClientRect(FWindow, &client);
        Check(FOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, FSite, 0, FWindow, &client));
    } catch (const Exception& e) {
        Destroy();
        FCreateError = e.what();
        throw;
    } catch (...) {
        Destroy();
        throw;
    }
}

void TWebBrowserHost::Navigate(const std::string& url) {
    if (!FBrowser) throw Exception(FCreateError.empty() ? OleErrorText(E_UNEXPECTED) : FCreateError);
    TBstr address = AnsiToBstr(url);
    VARIANT flags, frame, postData, headers;
    ::VariantInit(&flags);
    ::VariantInit(&frame);
    ::VariantInit(&postData);
    ::VariantInit(&headers);
    Check(FBrowser->Navigate(address.get(), &flags, &frame, &postData, &headers));
}

void TWebBrowserHost::SetBounds(const RECT& rect) {
    if (!FWindow) return;
    ::MoveWindow(FWindow, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    if (!FOleObject) return;
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(FOleObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        RECT client{};
        ::GetClientRect(FWindow, &client);
        inPlace->SetObjectRects(&client, &client);
        inPlace->Release();
    }
}

void TWebBrowserHost::Resize(int width, int height) {
    if (!FWindow) return;
    RECT rect{};
    ::GetWindowRect(FWindow, &rect);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(FWindow), reinterpret_cast<POINT*>(&rect), 2);
    SetBounds(RECT{rect.left, rect.top, rect.left + width, rect.top + height});
}

void TWebBrowserHost::Destroy() {
    if (FConnectionPoint) {
        FConnectionPoint->Unadvise(FCookie);
        FCookie = 0;
        ReleaseAndClear(FConnectionPoint);
    }
    if (FSink) {
        FSink->Detach();
        ReleaseAndClear(FSink);
    }
    ReleaseAndClear(FBrowser);
    if (FOleObject) {
        FOleObject->Close(OLECLOSE_NOSAVE);
        FOleObject->SetClientSite(nullptr);
        ReleaseAndClear(FOleObject);
    }
    ReleaseAndClear(FSite);
    if (FWindow) {
        ::DestroyWindow(FWindow);
        FWindow = nullptr;
    }
}

void TWebBrowserHost::NavigateCompleted() {
    if (OnNavigateComplete2) OnNavigateComplete2();
}

}  // namespace orvex
