#include "documents/link_allowlist.h"
#include "documents/vendor_domain.h"

#include <gtest/gtest.h>

#include <climits>
#include <cwctype>
#include <string>
#include <vector>

using namespace documents;

namespace {

std::vector<std::wstring> domainsOf(int kind) {
  const std::wstring vendor = vendorDomain();
  switch (kind) {
    case kLinkKindMarketData:
      return {vendor, L"tdx.com.cn", L"myquant.cn", L"eastmoney.com", L"10jqka.com.cn",
              L"joinquant.com", L"ricequant.com", L"cninfo.com.cn"};
    case kLinkKindModelHub:
      return {L"modelscope.cn", L"huggingface.co"};
    default:
      return {vendor};
  }
}

std::wstring upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

class EveryKind : public ::testing::TestWithParam<int> {
 protected:
  // Runs the check for every domain of the kind, naming the domain when it fails.
  template <typename Check>
  void forEachDomain(Check check) {
    for (const std::wstring& d : domainsOf(GetParam())) {
      SCOPED_TRACE(testing::Message() << "domain " << std::string(d.begin(), d.end()));
      check(d, GetParam());
    }
  }
};

INSTANTIATE_TEST_SUITE_P(LinkAllowlist, EveryKind, ::testing::Values(0, 1, 2));

TEST_P(EveryKind, AdmitsTheDomainItsSubdomainsAndAnyLetterCase) {
  forEachDomain([](const std::wstring& d, int kind) {
    EXPECT_TRUE(isAllowedLink(L"https://" + d, kind));
    EXPECT_TRUE(isAllowedLink(L"https://" + d + L"/", kind));
    const std::wstring full = L"https://www." + d + L"/a/b.html?x=1&y=%20#part";
    EXPECT_TRUE(isAllowedLink(full, kind));
    EXPECT_TRUE(isAllowedLink(upper(full), kind));
    EXPECT_TRUE(isAllowedLink(L"https://a.b-c." + d + L"?q", kind));
    EXPECT_TRUE(isAllowedLink(L"https://x." + d + L"#f", kind));
    // Path, query and fragment are free, also when they look like a host.
    EXPECT_TRUE(isAllowedLink(L"https://" + d + L"/@evil.example:80", kind));
  });
}

TEST_P(EveryKind, RefusesOtherSchemesPortsAndUserInformation) {
  forEachDomain([](const std::wstring& d, int kind) {
    EXPECT_FALSE(isAllowedLink(L"http://" + d, kind));
    EXPECT_FALSE(isAllowedLink(L"http://www." + d + L"/a?b#c", kind));
    EXPECT_FALSE(isAllowedLink(L"ftp://" + d + L"/", kind));
    EXPECT_FALSE(isAllowedLink(L"https:/" + d, kind));
    EXPECT_FALSE(isAllowedLink(L"//" + d + L"/abc", kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L":443/", kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L":443", kind));
    EXPECT_FALSE(isAllowedLink(L"https://user@" + d + L"/", kind));
    EXPECT_FALSE(isAllowedLink(L"https://user:pw@" + d, kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L"@evil.example/", kind));
  });
}

TEST_P(EveryKind, RefusesHostsThatOnlyResembleTheDomain) {
  forEachDomain([](const std::wstring& d, int kind) {
    EXPECT_FALSE(isAllowedLink(L"https://evil" + d + L"/", kind));    // no dot before the suffix
    EXPECT_FALSE(isAllowedLink(L"https://x" + d, kind));
    EXPECT_FALSE(isAllowedLink(L"https://." + d + L"/", kind));       // nothing before the dot
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L".evil.example/", kind));  // further labels
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L"./", kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L"-x.com/", kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d.substr(1) + L"/", kind));
    // A backslash ends the host in a browser: this one would open evil.example.
    EXPECT_FALSE(isAllowedLink(L"https://evil.example\\." + d + L"/", kind));
    EXPECT_TRUE(isAllowedLink(L"https://" + d + L"\\path", kind));
  });
}

TEST_P(EveryKind, RefusesSpacesAndControlCharactersAnywhere) {
  forEachDomain([](const std::wstring& d, int kind) {
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L"/a b", kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L"/a\tb", kind));
    EXPECT_FALSE(isAllowedLink(L" https://" + d, kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L"\n", kind));
    EXPECT_FALSE(isAllowedLink(L"https://" + d + L"/#\x1f", kind));
    EXPECT_FALSE(isAllowedLink(std::wstring(L"https://") + d + L"/" + L'\0' + L"x", kind));
  });
}

TEST_P(EveryKind, CountsLengthUpToThreeHundredCharacters) {
  forEachDomain([](const std::wstring& d, int kind) {
    const std::wstring base = L"https://" + d + L"/";
    const std::wstring longest = base + std::wstring(300 - base.size(), L'a');
    ASSERT_EQ(longest.size(), 300u);
    EXPECT_TRUE(isAllowedLink(longest, kind));
    EXPECT_FALSE(isAllowedLink(longest + L"a", kind));
    // A character outside the basic plane counts as two: 299 + one pair is 301.
    EXPECT_FALSE(isAllowedLink(longest.substr(0, 299) + L"\U0001F600", kind));
  });
}

TEST_P(EveryKind, KeepsTheKindsApart) {
  const int kind = GetParam();
  for (int other = 0; other <= 2; ++other) {
    if (other == kind) continue;
    for (const std::wstring& d : domainsOf(other)) {
      bool listedForKind = false;
      for (const std::wstring& own : domainsOf(kind)) listedForKind |= own == d;
      if (listedForKind) continue;  // the vendor's domain belongs to kinds 0 and 2
      EXPECT_FALSE(isAllowedLink(L"https://www." + d + L"/", kind))
          << "kind " << kind << " admits " << std::string(d.begin(), d.end());
    }
  }
}

TEST(LinkAllowlist, RefusesNumericAndBracketedHosts) {
  for (int kind = 0; kind <= 2; ++kind) {
    EXPECT_FALSE(isAllowedLink(L"https://127.0.0.1/", kind));
    EXPECT_FALSE(isAllowedLink(L"https://2130706433", kind));
    EXPECT_FALSE(isAllowedLink(L"https://1.2.3.4.5.6/x", kind));
    EXPECT_FALSE(isAllowedLink(L"https://[::1]/", kind));
    EXPECT_FALSE(isAllowedLink(L"https://[fe80::1%25eth0]/x.tdx.com.cn", kind));
  }
}

TEST(LinkAllowlist, AppliesTheLengthTestBeforeAnythingElse) {
  // Nine characters are long enough for the length test; the host then decides.
  EXPECT_FALSE(isAllowedLink(L"https://a", 0));
  EXPECT_FALSE(isAllowedLink(L"https://", 0));
  EXPECT_FALSE(isAllowedLink(L"", 0));
  EXPECT_FALSE(isAllowedLink(L"https:///tdx.com.cn", 0));  // empty host
  EXPECT_FALSE(isAllowedLink(L"https://?tdx.com.cn", 0));
}

TEST(LinkAllowlist, RefusesKindsOutsideZeroToTwo) {
  for (int kind : {-1, 3, 4, 100, INT_MIN, INT_MAX}) {
    EXPECT_FALSE(isAllowedLink(L"https://www.tdx.com.cn/", kind));
    EXPECT_FALSE(isAllowedLink(L"https://modelscope.cn/", kind));
    EXPECT_FALSE(isAllowedLink(std::wstring(L"https://") + vendorDomain() + L"/", kind));
  }
}

TEST(LinkAllowlist, FoldsOnlyAsciiLetters) {
  // U+0130 (capital I with dot) lower-cases to 'i' in some case tables, but a browser resolves
  // the host to a different (punycode) domain.
  EXPECT_FALSE(isAllowedLink(L"https://jo\u0130nquant.com/", 0));
  EXPECT_FALSE(isAllowedLink(L"https://\uFF54dx.com.cn/", 0));  // full-width t
  EXPECT_TRUE(isAllowedLink(L"https://\u884C\u60C5.tdx.com.cn/", 0));
}

}  // namespace
