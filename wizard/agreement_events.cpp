#include "wizard/agreement_events.h"

#include "prog/debug_log.h"
#include "wizard/agreement_com_ids.h"
#include "wizard/agreement_navigation.h"
#include "wizard/com_unknown.h"

#include <exdispid.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

using Microsoft::WRL::ComPtr;

namespace wizard {
namespace {

// An event's arguments arrive last first; index counts in the order the event declares them.
VARIANT* argument(DISPPARAMS* params, UINT count, UINT index) {
  if (!params || params->cArgs != count || !params->rgvarg) return nullptr;
  return &params->rgvarg[count - 1 - index];
}

// The control passes Cancel by reference and the address as a string, by value or by reference.
void cancel(VARIANT* flag) {
  if (flag && flag->vt == (VT_BYREF | VT_BOOL) && flag->pboolVal) *flag->pboolVal = VARIANT_TRUE;
}

std::wstring stringOf(const VARIANT* value) {
  if (value && value->vt == (VT_BYREF | VT_VARIANT)) value = value->pvarVal;
  if (!value || value->vt != VT_BSTR || !value->bstrVal) return {};
  return std::wstring(value->bstrVal, SysStringLen(value->bstrVal));
}

class AgreementEventSink final : public IDispatch {
 public:
  AgreementEventSink() = default;
  AgreementEventSink(const AgreementEventSink&) = delete;
  AgreementEventSink& operator=(const AgreementEventSink&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return answerQuery(iid, out, {{kIidUnknown, this}, {kIidDispatch, this}, {kDiidWebBrowserEvents2, this}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return count_.addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return count_.release(this); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    switch (id) {
      case DISPID_BEFORENAVIGATE2:  // pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel
        onNavigation(stringOf(argument(params, 7, 1)), argument(params, 7, 6));
        return S_OK;
      case DISPID_NEWWINDOW3:  // ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl
        onNewWindow(stringOf(argument(params, 5, 4)), argument(params, 5, 1));
        return S_OK;
      case DISPID_NEWWINDOW2:  // ppDisp, Cancel; the address came with NewWindow3
        cancel(argument(params, 2, 1));
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  friend class ComRefCount<AgreementEventSink>;
  ~AgreementEventSink() = default;  // only Release deletes

  void onNavigation(const std::wstring& url, VARIANT* cancelFlag) {
    const bool first = !navigated_;
    navigated_ = true;
    follow(agreementNavigation(url, first), url, cancelFlag);
  }
  void onNewWindow(const std::wstring& url, VARIANT* cancelFlag) {
    follow(agreementNavigation(url, false), url, cancelFlag);
  }
  static void follow(AgreementNavigation what, const std::wstring& url, VARIANT* cancelFlag) {
    if (what == AgreementNavigation::kLoad) return;
    cancel(cancelFlag);
    if (what == AgreementNavigation::kCancelAndOpenInBrowser) {
      ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
  }

  ComRefCount<AgreementEventSink> count_;
  bool navigated_ = false;  // events come on the window's thread only
};

}  // namespace

IDispatch* newAgreementEventSink() { return new AgreementEventSink(); }

bool AgreementEvents::connect(IWebBrowser2* browser) {
  reset();
  if (!browser) return false;
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  HRESULT hr =
      browser->QueryInterface(kIidConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()));
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(kDiidWebBrowserEvents2, point.GetAddressOf());
  if (SUCCEEDED(hr) && !point) hr = E_NOINTERFACE;
  ComPtr<IDispatch> sink;
  *sink.ReleaseAndGetAddressOf() = newAgreementEventSink();  // see createAgreementBrowser
  DWORD cookie = 0;
  if (SUCCEEDED(hr)) hr = point->Advise(sink.Get(), &cookie);
  if (FAILED(hr)) {
    char line[64];
    snprintf(line, sizeof line, "AgreementEvents connect FAILED hr=0x%08lX", static_cast<unsigned long>(hr));
    appendDebugLog(line);
    return false;
  }
  point_ = std::move(point);
  cookie_ = cookie;
  return true;
}

void AgreementEvents::reset() {
  if (!point_) return;
  point_->Unadvise(cookie_);
  point_.Reset();
  cookie_ = 0;
}

}  // namespace wizard
