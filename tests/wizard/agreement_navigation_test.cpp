// Which navigations of the agreement page load, and which go to the user's browser instead.
#include "documents/vendor_domain.h"
#include "wizard/agreement_navigation.h"

#include <gtest/gtest.h>

using wizard::AgreementNavigation;
using wizard::agreementNavigation;

TEST(AgreementNavigation, OnlyTheFirstLoadsAndOnlyVendorLinksOpenOutside) {
  const std::wstring vendor = documents::vendorDomain();
  EXPECT_EQ(agreementNavigation(L"C:\\Temp\\OrvaloSetup_agreement_7.html", true), AgreementNavigation::kLoad);
  EXPECT_EQ(agreementNavigation(L"https://www." + vendor + L"/privacy", false),
            AgreementNavigation::kCancelAndOpenInBrowser);
  for (const std::wstring& other : {L"http://www." + vendor + L"/", std::wstring(L"https://www.tdx.com.cn/"),
                                    std::wstring(L"C:\\Temp\\OrvaloSetup_agreement_7.html")}) {
    EXPECT_EQ(agreementNavigation(other, false), AgreementNavigation::kCancel) << other;
  }
}
