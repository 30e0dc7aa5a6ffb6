// The agreement's HTML edition in the wizard's typography.
#include "documents/agreement_html.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace documents;

using documents::insertInternetZoneMark;
using documents::isHttpsAddress;
using documents::kAgreementStyleBlock;
using documents::kInternetZoneMark;
using documents::styleAgreementHtml;

namespace {

std::string styled(std::string html) {
  styleAgreementHtml(html);
  return html;
}

std::string framed(const std::string& body) {
  return std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\">") + kAgreementStyleBlock +
         "</head><body>" + body + "</body></html>";
}

}  // namespace

TEST(StyleAgreementHtml, StyleBlockIsOneLineOf306Bytes) {
  EXPECT_EQ(std::strlen(kAgreementStyleBlock), 306u);
  EXPECT_EQ(std::string(kAgreementStyleBlock).find('\n'), std::string::npos);
}

TEST(StyleAgreementHtml, InsertsTheStyleBlockBeforeTheHeadEndAndChangesNothingElse) {
  const std::string head = "<html><head><title>协议</title>";
  const std::string rest = "</head><body><p style=\"color:red\">第一条</p></body></html>";
  EXPECT_EQ(styled(head + rest), head + kAgreementStyleBlock + rest);
}

TEST(StyleAgreementHtml, OnlyTheFirstHeadEndGetsTheBlock) {
  const std::string html = "<head></head><body><pre></head></pre></body>";
  EXPECT_EQ(styled(html), std::string("<head>") + kAgreementStyleBlock + "</head><body><pre></head></pre></body>");
}

TEST(StyleAgreementHtml, ReplacesEveryKeywordSizeWithItsPointSize) {
  const std::string html =
      "<head></head><h1 style=\"font-size:xx-large\">a</h1><h2 style=\"font-size:x-large\">b</h2>"
      "<h3 style=\"font-size:large\">c</h3><p style=\"font-size:medium\">d</p>"
      "<p style=\"font-size:small\">e</p><p style=\"font-size:x-small\">f</p>"
      "<p style=\"font-size:xx-small\">g</p><p style=\"font-size:x-large;font-size:x-large\">h</p>";
  const std::string expected =
      std::string("<head>") + kAgreementStyleBlock +
      "</head><h1 style=\"font-size:15pt\">a</h1><h2 style=\"font-size:12.5pt\">b</h2>"
      "<h3 style=\"font-size:11.5pt\">c</h3><p style=\"font-size:10.5pt\">d</p>"
      "<p style=\"font-size:10pt\">e</p><p style=\"font-size:9.5pt\">f</p>"
      "<p style=\"font-size:9pt\">g</p><p style=\"font-size:12.5pt;font-size:12.5pt\">h</p>";
  EXPECT_EQ(styled(html), expected);
}

TEST(StyleAgreementHtml, KeywordsWithASpaceOrInCapitalsStayAsTheyAre) {
  const std::string html = "<head></head><p style=\"font-size: large\">a</p><p style=\"FONT-SIZE:LARGE\">b</p>"
                           "<p style=\"font-size:Large\">c</p>";
  EXPECT_EQ(styled(html), std::string("<head>") + kAgreementStyleBlock +
                              "</head><p style=\"font-size: large\">a</p><p style=\"FONT-SIZE:LARGE\">b</p>"
                              "<p style=\"font-size:Large\">c</p>");
}

TEST(StyleAgreementHtml, TheRewritingIsTextualAlsoOutsideStyles) {
  EXPECT_EQ(styled("<head></head><p>font-size:small</p>"),
            std::string("<head>") + kAgreementStyleBlock + "</head><p>font-size:10pt</p>");
}

TEST(StyleAgreementHtml, AFragmentWithoutHeadIsFramedAsAFullDocument) {
  EXPECT_EQ(styled("<p>第一条 用户须知</p>"), framed("<p>第一条 用户须知</p>"));
  EXPECT_EQ(styled("<p style=\"font-size:large\">x</p>"), framed("<p style=\"font-size:11.5pt\">x</p>"));
  EXPECT_EQ(std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\">").size(), 49u);
}

TEST(StyleAgreementHtml, TextsShorterThanSevenBytesAreFramed) {
  EXPECT_EQ(styled(""), framed(""));
  EXPECT_EQ(styled("</head"), framed("</head"));
  EXPECT_EQ(styled("</head>"), std::string(kAgreementStyleBlock) + "</head>");
}

TEST(InternetZoneMark, ComesFirstOrRightAfterTheByteOrderMark) {
  const std::string mark = "<!-- saved from url=(0014)about:internet -->\r\n";
  EXPECT_EQ(kInternetZoneMark, mark);
  std::string html = "<!DOCTYPE html><html></html>";
  insertInternetZoneMark(html);
  EXPECT_EQ(html, mark + "<!DOCTYPE html><html></html>");
  // A mark of the page's own, for a more trusted zone, comes after ours and so counts for nothing.
  html = "\xEF\xBB\xBF<!-- saved from url=(0016)http://localhost -->";
  insertInternetZoneMark(html);
  EXPECT_EQ(html, "\xEF\xBB\xBF" + mark + "<!-- saved from url=(0016)http://localhost -->");
}

TEST(HttpsAddress, OnlyTheHttpsSchemeInAnyLetterCase) {
  EXPECT_TRUE(isHttpsAddress(L"https://x.example/a.html"));
  EXPECT_TRUE(isHttpsAddress(L"HTtpS://x"));
  for (const wchar_t* no : {L"https://", L"http://x/a.html", L" https://x", L"file:///C:/a.html", L"http\u017F://x"}) {
    EXPECT_FALSE(isHttpsAddress(no)) << no;
  }
}
