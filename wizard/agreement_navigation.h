// What the agreement view does with a navigation inside its WebBrowser control: only the page
// the wizard opens itself is loaded there; a link of the page never is, and one to the vendor's
// own site opens in the user's browser instead. Plain logic, safe on any thread.
#pragma once

#include <string>

namespace wizard {

enum class AgreementNavigation {
  kLoad,                   // the page the wizard opened
  kCancel,                 // anything else
  kCancelAndOpenInBrowser  // anything else that is a link to the vendor's own site
};

// first: whether this is the first navigation since the wizard opened its page.
[[nodiscard]] AgreementNavigation agreementNavigation(const std::wstring& url, bool first);

}  // namespace wizard
