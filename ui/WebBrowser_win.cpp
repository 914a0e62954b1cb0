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

// An OLE error raised with the system's text for it: behaviour inherited from the UI framework,
// which reports OLE errors that way.
void Check(HRESULT hr) {
    if (FAILED(hr)) throw Exception(win32::HResultText(hr));
}

struct BstrDeleter {
    void operator()(BSTR text) const { ::SysFreeString(text); }
};
using TBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

// The address in UTF-16, read in the ANSI code page like every other text of the program.
TBstr AnsiToBstr(const std::string& text) {
    const std::wstring wide = win32::Widen(text, CP_ACP);
    if (!text.empty() && wide.empty()) throw Exception(os::ErrorText(os::LastError()));
    TBstr result(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    if (!result) Check(E_OUTOFMEMORY);
    return result;
}

const wchar_t* const HostClassName = L"OrvexBrowserHost";

void RegisterHostClass() {
    WNDCLASSEXW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = HostClassName;
    if (!win32::RegisterWindowClass(wc)) throw Exception(os::ErrorText(os::LastError()));
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
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IOleClientSite))
            *object = static_cast<IOleClientSite*>(this);
        else if (riid == __uuidof(IOleWindow) || riid == __uuidof(IOleInPlaceSite))
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (riid == __uuidof(IOleInPlaceUIWindow) || riid == __uuidof(IOleInPlaceFrame))
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
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(DWebBrowserEvents2)) {
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
        const auto keepAlive = win32::TComPtr<TEventSink>::AddRefTo(this);
        try {
            FHost->NavigateCompleted();
        } catch (...) {
            return DISP_E_EXCEPTION;
        }
        return S_OK;
    }

private:
    TWebBrowserHost* FHost;
};

long TWebBrowserHost::LiveObjects() { return GLiveObjects.load(); }

TWebBrowserHost::TWebBrowserHost() = default;

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

        Check(::CoCreateInstance(__uuidof(WebBrowser), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IOleObject), FOleObject.Out()));
        FSite = win32::TComPtr<TSite>(new TSite(FWindow));
        Check(FOleObject->SetClientSite(FSite.Get()));
        Check(FOleObject->QueryInterface(__uuidof(IWebBrowser2), FBrowser.Out()));

        {
            win32::TComPtr<IConnectionPointContainer> container;
            Check(FOleObject->QueryInterface(__uuidof(IConnectionPointContainer), container.Out()));
            Check(container->FindConnectionPoint(__uuidof(DWebBrowserEvents2),
                                                 reinterpret_cast<IConnectionPoint**>(FConnectionPoint.Out())));
        }
        FSink = win32::TComPtr<TEventSink>(new TEventSink(this));
        const HRESULT advised = FConnectionPoint->Advise(FSink.Get(), &FCookie);
        if (FAILED(advised)) {
            FConnectionPoint.Reset();
            Check(advised);
        }

        RECT client{};
        ::GetClientRect(FWindow, &client);
        Check(FOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, FSite.Get(), 0, FWindow, &client));
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
    if (!FBrowser) throw Exception(FCreateError.empty() ? win32::HResultText(E_UNEXPECTED) : FCreateError);
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
    win32::TComPtr<IOleInPlaceObject> inPlace;
    if (SUCCEEDED(FOleObject->QueryInterface(__uuidof(IOleInPlaceObject), inPlace.Out()))) {
        RECT client{};
        ::GetClientRect(FWindow, &client);
        inPlace->SetObjectRects(&client, &client);
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
        FConnectionPoint.Reset();
    }
    if (FSink) {
        FSink->Detach();
        FSink.Reset();
    }
    FBrowser.Reset();
    if (FOleObject) {
        FOleObject->Close(OLECLOSE_NOSAVE);
        FOleObject->SetClientSite(nullptr);
        FOleObject.Reset();
    }
    FSite.Reset();
    if (FWindow) {
        ::DestroyWindow(FWindow);
        FWindow = nullptr;
    }
}

void TWebBrowserHost::NavigateCompleted() {
    if (OnNavigateComplete2) OnNavigateComplete2();
}

}  // namespace orvex
