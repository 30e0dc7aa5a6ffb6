#include "wizard/agreement_navigation.h"

#include "documents/link_allowlist.h"

namespace wizard {

// Only the vendor's own site: the page may come from any download server, so it must not be
// able to send the user to sites the vendor does not answer for.
AgreementNavigation agreementNavigation(const std::wstring& url, bool first) {
  if (first) return AgreementNavigation::kLoad;
  return documents::isAllowedLink(url, documents::kLinkKindVendor) ? AgreementNavigation::kCancelAndOpenInBrowser
                                             : AgreementNavigation::kCancel;
}

}  // namespace wizard
