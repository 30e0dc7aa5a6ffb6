#include "wizard/agreement_view.h"

#include "prog/debug_log.h"
#include "wizard/agreement_com_ids.h"
#include "wizard/com_unknown.h"
#include "wizard/wizard_ids.h"

#include <mshtmdid.h>
#include <ole2.h>
#include <wrl/client.h>

#include <cstdio>

using Microsoft::WRL::ComPtr;

namespace wizard {
namespace {

// What the page may do, as the control asks its site (the ambient download control): run no
// script, Java or ActiveX control, fetch no control, frame, behaviour or image (DLCTL_DLIMAGES
// is left out), follow no refresh and show no message box of its own. The agreement is text.
constexpr long kDownloadControl = DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS |
                                  DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_FRAMEDOWNLOAD | DLCTL_NO_BEHAVIORS |
                                  DLCTL_NO_CLIENTPULL | DLCTL_SILENT;

// "...hr=0x%08lX": eight upper-case hexadecimal digits.
void logHr(const char* format, HRESULT hr) {
  char line[64];
  snprintf(line, sizeof line, format, static_cast<unsigned long>(hr));
  appendDebugLog(line);
}

// The container side of the in-place control: the wizard window is client site, in-place site
// and frame at once, and answers the control's ambient properties. No document window, no
// menus, no border space, no accelerators.
class AgreementOleSite final : public IOleClientSite,
                               public IOleInPlaceSite,
                               public IOleInPlaceFrame,
                               public IDispatch {
 public:
  explicit AgreementOleSite(HWND host) : host_(host) {}
  AgreementOleSite(const AgreementOleSite&) = delete;
  AgreementOleSite& operator=(const AgreementOleSite&) = delete;

  // IUnknown, shared by the four faces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return answerQuery(iid, out,
                       {{kIidUnknown, static_cast<IOleClientSite*>(this)},
                        {kIidOleClientSite, static_cast<IOleClientSite*>(this)},
                        {kIidOleInPlaceSite, static_cast<IOleInPlaceSite*>(this)},
                        {kIidOleInPlaceFrame, static_cast<IOleInPlaceFrame*>(this)},
                        {kIidDispatch, static_cast<IDispatch*>(this)}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return count_.addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return count_.release(this); }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return S_OK; }

  // IOleWindow, for both the in-place site and the frame.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = host_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                             RECT* position, RECT* clip,
                                             OLEINPLACEFRAMEINFO* info) override {
    if (frame) {
      *frame = static_cast<IOleInPlaceFrame*>(this);
      AddRef();
    }
    if (document) *document = nullptr;
    RECT client{};
    GetClientRect(host_, &client);
    if (position) *position = client;
    if (clip) *clip = client;
    if (info) {
      info->cb = sizeof(OLEINPLACEFRAMEINFO);
      info->fMDIApp = FALSE;
      info->hwndFrame = host_;
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow and IOleInPlaceFrame
  HRESULT STDMETHODCALLTYPE GetBorder(RECT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, WORD) override { return E_NOTIMPL; }

  // IDispatch: the ambient properties. Every one but the download control is left to the
  // control's default.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id != DISPID_AMBIENT_DLCONTROL) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = kDownloadControl;
    return S_OK;
  }

 private:
  friend class ComRefCount<AgreementOleSite>;
  ~AgreementOleSite() = default;  // only Release deletes

  ComRefCount<AgreementOleSite> count_;
  HWND host_;
};

}  // namespace

IOleClientSite* newAgreementOleSite(HWND host) { return new AgreementOleSite(host); }

bool createAgreementBrowser(HWND parent, const RECT& rect, IWebBrowser2** browser,
                            IOleInPlaceObject** inPlace) {
  *browser = nullptr;
  *inPlace = nullptr;

  // The control wants a storage; a temporary one that deletes itself with its last reference.
  ComPtr<IStorage> storage;
  HRESULT hr = StgCreateDocfile(nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_DELETEONRELEASE,
                                0, &storage);
  if (FAILED(hr)) {
    logHr("StgCreateDocfile FAILED hr=0x%08lX", hr);
    return false;
  }

  // The site's first reference is ours; the control takes its own and keeps the site alive.
  // MinGW's ComPtr::Attach adds a reference of its own, so the first one is handed over through
  // the pointer's address.
  ComPtr<IOleClientSite> site;
  *site.ReleaseAndGetAddressOf() = newAgreementOleSite(parent);

  ComPtr<IOleObject> object;
  hr = OleCreate(kClsidWebBrowser, kIidOleObject, OLERENDER_DRAW, nullptr, site.Get(), storage.Get(),
                 reinterpret_cast<void**>(object.GetAddressOf()));
  storage.Reset();
  if (FAILED(hr) || !object) {
    logHr("OleCreate FAILED hr=0x%08lX", FAILED(hr) ? hr : E_POINTER);
    return false;
  }
  OleSetContainedObject(object.Get(), TRUE);

  // A failed activation still leaves a control that may navigate; only a missing browser
  // interface ends the creation.
  RECT area = rect;
  hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, parent, &area);
  logHr("DoVerb hr=0x%08lX", hr);

  ComPtr<IOleInPlaceObject> inPlaceObject;
  if (SUCCEEDED(object->QueryInterface(kIidOleInPlaceObject, reinterpret_cast<void**>(inPlaceObject.GetAddressOf())))) {
    inPlaceObject->SetObjectRects(&area, &area);
  }
  ComPtr<IWebBrowser2> webBrowser;
  hr = object->QueryInterface(kIidWebBrowser2, reinterpret_cast<void**>(webBrowser.GetAddressOf()));
  object.Reset();
  site.Reset();

  if (SUCCEEDED(hr) && webBrowser) {
    appendDebugLog("createAgreementBrowser OK");
    *browser = webBrowser.Detach();
    *inPlace = inPlaceObject.Detach();
    return true;
  }
  logHr("QI IWebBrowser2 FAILED hr=0x%08lX", FAILED(hr) ? hr : E_NOINTERFACE);
  return false;
}

std::wstring agreementFileUrl(const std::wstring& path) {
  std::wstring url = L"file:///" + path;
  for (wchar_t& c : url) {
    if (c == L'\\') c = L'/';
  }
  return url;
}

bool showAgreementHtml(HWND window, Ctx& ctx, const std::wstring& htmlPath) {
  HWND edit = GetDlgItem(window, kIdAgreementEdit);
  if (!ctx.browserCreated) {
    RECT area{};
    GetWindowRect(edit, &area);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
    ctx.browserRect = area;
    ctx.browser.Reset();
    ctx.browserInPlace.Reset();
    ctx.browserCreated = createAgreementBrowser(window, ctx.browserRect, ctx.browser.GetAddressOf(),
                                                ctx.browserInPlace.GetAddressOf());
    if (!ctx.browserCreated) return false;
  }
  if (ctx.browser) {
    // A fresh subscription for each page: its first navigation is this one. Without it nothing
    // would keep the page's links inside the control, so the page is not shown at all.
    if (!ctx.browserEvents.connect(ctx.browser.Get())) {
      RECT empty{0, 0, 0, 0};
      if (ctx.browserInPlace) ctx.browserInPlace->SetObjectRects(&empty, &empty);
      return false;
    }
    const std::wstring url = agreementFileUrl(htmlPath);
    // Only navigations are followed: a page that does not load shows whatever the control shows.
    if (BSTR address = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()))) {
      VARIANT empty;
      VariantInit(&empty);
      ctx.browser->Navigate(address, &empty, &empty, &empty, &empty);
      SysFreeString(address);
    }
  }
  ShowWindow(edit, SW_HIDE);
  if (ctx.browserInPlace) ctx.browserInPlace->SetObjectRects(&ctx.browserRect, &ctx.browserRect);
  return true;
}

}  // namespace wizard
