#include "wizard/agreement_view.h"

#include "prog/debug_log.h"
#include "wizard/wizard_ids.h"

#include <ole2.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>

using Microsoft::WRL::ComPtr;

namespace wizard {
namespace {

// The published identifiers, spelled out so that nothing depends on which of them an import
// library happens to carry.
constexpr CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
constexpr IID kIidWebBrowser2 = {0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};
constexpr IID kIidOleObject = {0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidOleInPlaceObject = {0x00000113, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidOleClientSite = {0x00000118, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidOleInPlaceSite = {0x00000119, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidOleInPlaceFrame = {0x00000116, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// "...hr=0x%08lX": eight upper-case hexadecimal digits.
void logHr(const char* format, HRESULT hr) {
  char line[64];
  snprintf(line, sizeof line, format, static_cast<unsigned long>(hr));
  appendDebugLog(line);
}

// The container side of the in-place control: the wizard window is client site, in-place site
// and frame at once. No document window, no menus, no border space, no accelerators.
class AgreementOleSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  explicit AgreementOleSite(HWND host) : host_(host) {}
  AgreementOleSite(const AgreementOleSite&) = delete;
  AgreementOleSite& operator=(const AgreementOleSite&) = delete;

  // IUnknown, shared by the three faces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, kIidUnknown) || IsEqualIID(iid, kIidOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(iid, kIidOleInPlaceSite)) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(iid, kIidOleInPlaceFrame)) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --count_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

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

 private:
  ~AgreementOleSite() = default;  // only Release deletes

  std::atomic<long> count_{1};
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
    const std::wstring url = agreementFileUrl(htmlPath);
    // No events are followed: a page that does not load shows whatever the control shows.
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
