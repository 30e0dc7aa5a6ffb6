// The agreement view's subscription to the navigation events of its WebBrowser control
// (DWebBrowserEvents2): the page the wizard opens loads, every later navigation and every new
// window is cancelled, and a link to the vendor's own site opens in the user's browser instead
// (agreement_navigation.h). Window-thread code.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <wrl/client.h>

namespace wizard {

// One subscription, undone (Unadvise) by reset, by the next connect and when it goes away. The
// control holds the sink while it is advised; nothing else does.
class AgreementEvents {
 public:
  AgreementEvents() = default;
  ~AgreementEvents() { reset(); }
  AgreementEvents(const AgreementEvents&) = delete;
  AgreementEvents& operator=(const AgreementEvents&) = delete;

  // Replaces the subscription with a fresh sink on browser, which lets its first navigation
  // through: call it right before opening a page. False, with nothing subscribed, when the
  // control offers no such events.
  [[nodiscard]] bool connect(IWebBrowser2* browser);
  void reset();
  bool connected() const { return point_ != nullptr; }

 private:
  Microsoft::WRL::ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

// A new sink (reference count 1) as connect advises it; for tests of the sink itself. The caller
// releases it.
IDispatch* newAgreementEventSink();

}  // namespace wizard
