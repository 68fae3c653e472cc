#include "ui/web_browser_win32.h"

#include <exdisp.h>
#include <ole2.h>
#include <oleauto.h>

#include <utility>

namespace velm {

// The container side of the in-place browser: one object answers for the client site,
// the in-place site and the frame, which is all an in-place control asks of its host.
class BrowserSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    BrowserSite(HWND parent, const RECT& area) : parent_(parent), area_(area) {}

    bool Open() {
        if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, object_.Out())))
            return false;
        if (FAILED(object_->SetClientSite(static_cast<IOleClientSite*>(this)))) return false;
        OleSetContainedObject(object_.Get(), TRUE);
        RECT area = area_;
        if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0,
                                   parent_, &area)))
            return false;
        if (FAILED(object_->QueryInterface(IID_IWebBrowser2, browser_.Out()))) return false;
        browser_->put_Left(area_.left);
        browser_->put_Top(area_.top);
        browser_->put_Width(area_.right - area_.left);
        browser_->put_Height(area_.bottom - area_.top);
        browser_->put_Silent(VARIANT_TRUE);
        return true;
    }

    bool Navigate(const std::wstring& url) {
        if (!browser_ || url.empty()) return false;
        const UniqueBstr address(url);
        if (!address) return false;
        VARIANT empty;
        VariantInit(&empty);
        return SUCCEEDED(browser_->Navigate(address.Get(), &empty, &empty, &empty, &empty));
    }

    void Close() {
        if (browser_) {
            browser_->Stop();
            browser_.Reset();
        }
        if (object_) {
            object_->Close(OLECLOSE_NOSAVE);
            object_->SetClientSite(nullptr);
            object_.Reset();
        }
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
            *out = static_cast<IOleInPlaceFrame*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return ULONG(left);
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (shared by the site and the frame)
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = parent_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        if (frame) {
            *frame = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
        }
        if (document) *document = nullptr;
        if (position) *position = area_;
        if (clip) *clip = area_;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = parent_;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT) override { return E_NOTIMPL; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    ~BrowserSite() = default;

    LONG references_ = 1;
    HWND parent_;
    RECT area_;
    ComPtr<IOleObject> object_;
    ComPtr<IWebBrowser2> browser_;
};

WebBrowserHost::WebBrowserHost() = default;

WebBrowserHost::~WebBrowserHost() { Destroy(); }

bool WebBrowserHost::Create(HWND parent, const RECT& area) {
    Destroy();
    ComPtr<BrowserSite> site(new BrowserSite(parent, area));
    if (!site->Open()) {
        site->Close();
        return false;
    }
    site_ = std::move(site);
    return true;
}

bool WebBrowserHost::Navigate(const std::wstring& url) { return site_ && site_->Navigate(url); }

void WebBrowserHost::Destroy() {
    if (!site_) return;
    site_->Close();
    site_.Reset();
}

}  // namespace velm
