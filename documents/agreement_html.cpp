#include "documents/agreement_html.h"

#include <cstddef>

namespace documents {

const char kAgreementStyleBlock[] =
    "<style>body,p,li,td,th,div{font-size:10.5pt;font-family:'Microsoft YaHei UI','Microsoft "
    "YaHei','PingFang SC',sans-serif;}h1,h1 span{font-size:15pt !important;font-weight:700;}h2,"
    "h2 span{font-size:12.5pt !important;font-weight:700;}h3,h3 span,h4,h4 span{font-size:"
    "11.5pt !important;font-weight:700;}</style>";

// 14 is the length of "about:internet".
const char kInternetZoneMark[] = "<!-- saved from url=(0014)about:internet -->\r\n";

namespace {

// The order matters: "font-size:x-large" is replaced before "font-size:large" can match its
// tail, and the longer keywords of each family come first.
constexpr struct {
  const char* found;
  const char* replacement;
} kFontSizes[] = {
    {"font-size:xx-large", "font-size:15pt"}, {"font-size:x-large", "font-size:12.5pt"},
    {"font-size:large", "font-size:11.5pt"},  {"font-size:medium", "font-size:10.5pt"},
    {"font-size:small", "font-size:10pt"},    {"font-size:x-small", "font-size:9.5pt"},
    {"font-size:xx-small", "font-size:9pt"},
};

constexpr char kHeadEnd[] = "</head>";
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr wchar_t kHttpsScheme[] = L"https://";

void replaceAll(std::string& text, const std::string& found, const std::string& replacement) {
  size_t at = 0;
  while ((at = text.find(found, at)) != std::string::npos) {
    text.replace(at, found.size(), replacement);
    at += replacement.size();  // never rescans what was just inserted
  }
}

}  // namespace

void styleAgreementHtml(std::string& html) {
  for (const auto& row : kFontSizes) replaceAll(html, row.found, row.replacement);
  const size_t headEnd = html.find(kHeadEnd);
  if (html.size() < 7 || headEnd == std::string::npos) {
    html = std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\">") + kAgreementStyleBlock +
           "</head><body>" + html + "</body></html>";
    return;
  }
  html.insert(headEnd, kAgreementStyleBlock);
}

void insertInternetZoneMark(std::string& html) {
  const size_t at = html.compare(0, 3, kUtf8Bom) == 0 ? 3 : 0;
  html.insert(at, kInternetZoneMark);
}

bool isHttpsAddress(const std::wstring& address) {
  const size_t n = sizeof kHttpsScheme / sizeof kHttpsScheme[0] - 1;
  if (address.size() <= n) return false;
  for (size_t i = 0; i < n; ++i) {
    // Only ASCII letters are folded: no other character may pass as a letter of the scheme.
    const wchar_t c = address[i];
    const wchar_t lower = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    if (lower != kHttpsScheme[i]) return false;
  }
  return true;
}

}  // namespace documents
