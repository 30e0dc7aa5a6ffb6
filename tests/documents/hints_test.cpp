#include "documents/hints.h"
#include "documents/link_allowlist.h"
#include "documents/texts.h"
#include "documents/vendor_domain.h"

#include "util/text.h"

#include <gtest/gtest.h>

#include <string>

using namespace documents;

namespace {

std::string utf8(const std::wstring& text) { return util::toUtf8(text); }

std::string vendorUrl(const std::string& path) {
  return "https://www." + utf8(vendorDomain()) + path;
}

HintsDocument parsed(const std::string& json) {
  HintsDocument doc;
  (void)parseHints(json, doc);
  return doc;
}

std::string item(const std::string& name, const std::string& url, const std::string& desc = "") {
  std::string out = "{\"name\":\"" + name + "\",\"url\":\"" + url + "\"";
  if (!desc.empty()) out += ",\"desc\":\"" + desc + "\"";
  return out + "}";
}

const char kFullDocument[] = R"({
  "datasource": {
    "intro": "intro text",
    "items": [{"name": "A", "desc": "first", "url": "https://www.tdx.com.cn/"},
              {"name": "B", "url": "https://www.myquant.cn/x"}]
  },
  "local_llm": {
    "hint": "hint text",
    "note": "note text",
    "guideUrl": "GUIDE",
    "items": [{"name": "Hub", "desc": "mirror", "url": "https://huggingface.co/models"}],
    "models": [{"name": "M1", "size": "1 GB", "url": "https://modelscope.cn/a", "tier": "small"},
               {"name": "M2", "url": "https://modelscope.cn/b", "tier": "MID"}]
  },
  "other": [1, 2, 3]
})";

std::string fullDocument() {
  std::string doc = kFullDocument;
  doc.replace(doc.find("GUIDE"), 5, vendorUrl("/manual/ai.html#local-model"));
  return doc;
}

TEST(ParseHints, ReadsEveryPartOfAFullDocument) {
  HintsDocument doc;
  ASSERT_TRUE(parseHints(fullDocument(), doc));
  EXPECT_EQ(doc.dataSourceIntro, L"intro text");
  ASSERT_EQ(doc.dataSources.size(), 2u);
  EXPECT_EQ(doc.dataSources[0].label, L"A（first）");
  EXPECT_EQ(doc.dataSources[0].url, L"https://www.tdx.com.cn/");
  EXPECT_EQ(doc.dataSources[1].label, L"B");
  EXPECT_EQ(doc.modelFileNote, L"hint text");
  EXPECT_EQ(doc.mirrorNote, L"note text");
  EXPECT_EQ(doc.helpTitle, kHintsHelpTitle);
  EXPECT_EQ(doc.helpUrl, util::toWide(util::kCodePageUtf8, vendorUrl("/manual/ai.html#local-model")));
  ASSERT_EQ(doc.links.size(), 1u);
  EXPECT_EQ(doc.links[0].label, L"Hub（mirror）");
  ASSERT_EQ(doc.models.size(), 2u);
  EXPECT_EQ(doc.models[0].tier, L"small");
  EXPECT_EQ(doc.models[0].label, L"M1（1 GB）");
  EXPECT_EQ(doc.models[1].tier, L"mid");
  EXPECT_EQ(doc.models[1].label, L"M2");
  EXPECT_TRUE(doc.hasContent);
}

TEST(ParseHints, TrimsOnlySpacesAndTabs) {
  HintsDocument doc;
  ASSERT_TRUE(parseHints("{\"datasource\":{\"intro\":\"  x\\t\"}}", doc));
  EXPECT_EQ(doc.dataSourceIntro, L"x");
  EXPECT_TRUE(doc.dataSources.empty());
  EXPECT_TRUE(doc.modelFileNote.empty() && doc.mirrorNote.empty() && doc.helpUrl.empty());
  EXPECT_TRUE(doc.models.empty() && doc.links.empty());

  // Line breaks, no-break and ideographic spaces are kept.
  EXPECT_EQ(parsed("{\"datasource\":{\"intro\":\"\\n x \\r\"}}").dataSourceIntro, L"\n x \r");
  EXPECT_EQ(parsed("{\"datasource\":{\"intro\":\"\\u3000x\\u00a0\"}}").dataSourceIntro,
            L"\u3000x\u00a0");
  // A text of blanks only is missing.
  EXPECT_FALSE(parseHints("{\"datasource\":{\"intro\":\" \\t \"}}", doc));
  // Names and addresses are trimmed before they are tested.
  doc = parsed("{\"datasource\":{\"items\":[{\"name\":\"\\t n \",\"url\":\"  https://tdx.com.cn/ \"}]}}");
  ASSERT_EQ(doc.dataSources.size(), 1u);
  EXPECT_EQ(doc.dataSources[0].label, L"n");
  EXPECT_EQ(doc.dataSources[0].url, L"https://tdx.com.cn/");
}

TEST(ParseHints, CutsTextsToTheirLimitsInUtf16CodeUnits) {
  const std::string cjk500 = [] {
    std::string s;
    for (int i = 0; i < 500; ++i) s += "\xE4\xB8\xAD";  // 中, three bytes, one code unit
    return s;
  }();
  HintsDocument doc = parsed("{\"datasource\":{\"intro\":\"" + cjk500 + "\"},\"local_llm\":{\"hint\":\"" +
                             cjk500 + "\",\"note\":\"" + cjk500 + "\"}}");
  EXPECT_EQ(doc.dataSourceIntro, std::wstring(400, L'中'));
  EXPECT_EQ(doc.modelFileNote, std::wstring(400, L'中'));
  EXPECT_EQ(doc.mirrorNote, std::wstring(120, L'中'));

  // Exactly at the limit nothing is cut.
  EXPECT_EQ(parsed("{\"local_llm\":{\"note\":\"" + std::string(120, 'n') + "\"}}").mirrorNote.size(), 120u);

  // A character outside the basic plane counts two; a cut through it drops its first half.
  std::string emoji;
  for (int i = 0; i < 60; ++i) emoji += "\xF0\x9F\x98\x80";  // 120 code units
  EXPECT_EQ(parsed("{\"local_llm\":{\"note\":\"" + emoji + "\"}}").mirrorNote.size(), 120u);
  doc = parsed("{\"local_llm\":{\"note\":\"a" + emoji + "\"}}");
  EXPECT_EQ(doc.mirrorNote.size(), 119u);
  EXPECT_EQ(doc.mirrorNote.back(), 0xDE00);

  // Labels: name plus the full-width parentheses, cut to 64 after joining.
  doc = parsed("{\"datasource\":{\"items\":[" + item(std::string(60, 'n'), "https://tdx.com.cn/", "dddddd") + "]}}");
  ASSERT_EQ(doc.dataSources.size(), 1u);
  EXPECT_EQ(doc.dataSources[0].label, std::wstring(60, L'n') + L"（ddd");
}

TEST(ParseHints, JoinsLabelsWithFullWidthParenthesesAndNoSpaces) {
  HintsDocument doc = parsed("{\"datasource\":{\"items\":[" +
                             item("通达信", "https://www.tdx.com.cn/", " TQ 量化版 ") + "]}}");
  ASSERT_EQ(doc.dataSources.size(), 1u);
  EXPECT_EQ(doc.dataSources[0].label, L"通达信（TQ 量化版）");
  doc = parsed(R"({"local_llm":{"models":[{"name":"Q","size":"5 GB","url":"https://modelscope.cn/x"}]}})");
  ASSERT_EQ(doc.models.size(), 1u);
  EXPECT_EQ(doc.models[0].label, L"Q（5 GB）");
  EXPECT_EQ(doc.models[0].tier, L"");
}

TEST(ParseHints, CountsOnlyAcceptedEntriesTowardTheMaxima) {
  const std::string a = item("a", "https://a.tdx.com.cn/"), b = item("b", "https://b.tdx.com.cn/"),
                    c = item("c", "https://c.tdx.com.cn/");
  HintsDocument doc = parsed("{\"datasource\":{\"items\":[" + a + "," + b + "," + c + "]}}");
  ASSERT_EQ(doc.dataSources.size(), 2u);
  EXPECT_EQ(doc.dataSources[1].label, L"b");

  doc = parsed("{\"datasource\":{\"items\":[" + item("empty url", "") + ",1,\"s\",[]," +
               item("", "https://x.tdx.com.cn/") + "," + item("hub", "https://modelscope.cn/") +
               "," + b + "," + c + "]}}");
  ASSERT_EQ(doc.dataSources.size(), 2u);
  EXPECT_EQ(doc.dataSources[0].label, L"b");
  EXPECT_EQ(doc.dataSources[1].label, L"c");

  // One further link; the vendor's own site is not a model hub.
  doc = parsed("{\"local_llm\":{\"items\":[" + item("vendor", vendorUrl("/x")) + "," +
               item("h1", "https://huggingface.co/") + "," + item("h2", "https://modelscope.cn/") + "]}}");
  ASSERT_EQ(doc.links.size(), 1u);
  EXPECT_EQ(doc.links[0].label, L"h1");

  // Three models.
  std::string models;
  for (int i = 0; i < 5; ++i) {
    models += std::string(i ? "," : "") + item("m" + std::to_string(i), i == 0 ? "https://tdx.com.cn/" : "https://modelscope.cn/m");
  }
  doc = parsed("{\"local_llm\":{\"models\":[" + models + "]}}");
  ASSERT_EQ(doc.models.size(), 3u);
  EXPECT_EQ(doc.models[0].label, L"m1");
  EXPECT_EQ(doc.models[2].label, L"m3");
}

TEST(ParseHints, LowerCasesTiers) {
  HintsDocument doc = parsed(R"({"local_llm":{"models":[
      {"name":"a","url":"https://modelscope.cn/a","tier":" Mid "},
      {"name":"b","url":"https://modelscope.cn/b","tier":"LARGE"}]}})");
  ASSERT_EQ(doc.models.size(), 2u);
  EXPECT_EQ(doc.models[0].tier, L"mid");
  EXPECT_EQ(doc.models[1].tier, L"large");
}

TEST(ParseHints, IgnoresTheByteOrderMark) {
  HintsDocument withMark, without;
  ASSERT_TRUE(parseHints("\xEF\xBB\xBF" + fullDocument(), withMark));
  ASSERT_TRUE(parseHints(fullDocument(), without));
  EXPECT_EQ(withMark.dataSourceIntro, without.dataSourceIntro);
  EXPECT_EQ(withMark.models.size(), without.models.size());
  EXPECT_EQ(withMark.helpUrl, without.helpUrl);
  // A mark anywhere but at the start is not JSON.
  EXPECT_FALSE(parseHints(" \xEF\xBB\xBF" + fullDocument(), withMark));
}

TEST(ParseHints, RefusesInvalidJsonNonObjectRootsAndEmptyDocuments) {
  const std::string stale = fullDocument();
  for (const std::string& text :
       {std::string(), std::string("[]"), std::string("{}"), std::string("null"), std::string("\"x\""),
        std::string("42"), std::string("{\"datasource\":"), std::string("{\"a\":1,}"),
        std::string("{'datasource':{}}"), std::string("{\"datasource\":{\"intro\":\"x\"}} trailing"),
        std::string("{\"datasource\":{\"intro\":\"x\"} /* c */}"),
        std::string("{\"datasource\":{\"intro\":\"\xC3\x28\"}}"),  // invalid UTF-8
        std::string("{\"datasource\":{\"intro\":\"\\ud800\"}}"),   // lone surrogate
        std::string("{\"datasource\":{\"intro\":\"x\",\"n\":1e999}}"),
        std::string("{\"datasource\":{},\"local_llm\":{}}"), std::string("{\"other\":\"x\"}")}) {
    HintsDocument doc;
    ASSERT_TRUE(parseHints(stale, doc));
    EXPECT_FALSE(parseHints(text, doc)) << text;
    // Never stale data from the earlier parse.
    EXPECT_TRUE(doc.dataSourceIntro.empty()) << text;
    EXPECT_TRUE(doc.models.empty() && doc.dataSources.empty() && doc.helpUrl.empty()) << text;
    EXPECT_FALSE(doc.hasContent);
  }
}

TEST(ParseHints, ReadsValuesOfTheWrongJsonTypeAsMissing) {
  HintsDocument doc;
  EXPECT_FALSE(parseHints(R"({"datasource":{"intro":5,"items":{"name":"a"}},
                              "local_llm":{"hint":["x"],"note":null,"guideUrl":true,
                                           "items":"https://modelscope.cn/","models":3}})", doc));
  EXPECT_FALSE(parseHints(R"({"datasource":"text","local_llm":[{"hint":"x"}]})", doc));

  doc = parsed(R"({"datasource":{"items":[{"name":1,"url":"https://tdx.com.cn/"},
                                          {"name":"ok","desc":{},"url":"https://tdx.com.cn/"},
                                          {"name":"u","url":["https://tdx.com.cn/"]}]},
                   "local_llm":{"models":[{"name":"m","url":"https://modelscope.cn/","tier":2,"size":1.5}]}})");
  ASSERT_EQ(doc.dataSources.size(), 1u);
  EXPECT_EQ(doc.dataSources[0].label, L"ok");
  ASSERT_EQ(doc.models.size(), 1u);
  EXPECT_EQ(doc.models[0].label, L"m");
  EXPECT_EQ(doc.models[0].tier, L"");
  // Keys match exactly.
  EXPECT_FALSE(parseHints(R"({"DataSource":{"intro":"x"},"local_llm":{"Hint":"x"}})", doc));
}

TEST(ParseHints, AcceptsAGuideUrlOnlyOnTheVendorsSite) {
  HintsDocument doc = parsed(R"({"local_llm":{"guideUrl":"https://modelscope.cn/guide","note":"n"}})");
  EXPECT_TRUE(doc.helpUrl.empty());
  EXPECT_TRUE(doc.helpTitle.empty());
  EXPECT_EQ(doc.mirrorNote, L"n");
  EXPECT_TRUE(doc.hasContent);
  // A help link alone is content.
  EXPECT_TRUE(parseHints("{\"local_llm\":{\"guideUrl\":\" " + vendorUrl("/help") + "\\t\"}}", doc));
  EXPECT_EQ(doc.helpUrl, util::toWide(util::kCodePageUtf8, vendorUrl("/help")));
  EXPECT_FALSE(parseHints("{\"local_llm\":{\"guideUrl\":\"http://www." + utf8(vendorDomain()) + "/\"}}", doc));
  EXPECT_FALSE(parseHints(R"({"local_llm":{"guideUrl":"https://www.tdx.com.cn/"}})", doc));
}

TEST(BuiltInHints, PointsEveryAddressAtItsOwnKind) {
  const HintsDocument doc = builtInHints();
  EXPECT_TRUE(doc.hasContent);
  ASSERT_EQ(doc.dataSources.size(), 2u);
  EXPECT_EQ(doc.dataSources[0].label, kHintsTdxLabel);
  EXPECT_EQ(doc.dataSources[0].url, L"https://www.tdx.com.cn/");
  EXPECT_EQ(doc.dataSources[1].label, kHintsMyquantLabel);
  EXPECT_EQ(doc.dataSources[1].url, L"https://www.myquant.cn/");
  for (const HintLink& link : doc.dataSources) EXPECT_TRUE(isAllowedLink(link.url, kLinkKindMarketData));
  EXPECT_EQ(doc.helpTitle, kHintsHelpTitle);
  EXPECT_EQ(doc.helpUrl, std::wstring(L"https://www.") + vendorDomain() + L"/manual/ai.html#local-model");
  EXPECT_TRUE(isAllowedLink(doc.helpUrl, kLinkKindVendor));
  EXPECT_EQ(doc.modelFileNote, kHintsModelFileNote);
  EXPECT_TRUE(doc.links.empty());
  ASSERT_EQ(doc.models.size(), 3u);
  const wchar_t* tiers[] = {L"small", L"mid", L"large"};
  const wchar_t* names[] = {L"1.7B", L"8B", L"32B"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(doc.models[i].tier, tiers[i]);
    EXPECT_EQ(doc.models[i].url, std::wstring(L"https://modelscope.cn/models?name=Qwen3-") + names[i] + L"-GGUF");
    EXPECT_TRUE(isAllowedLink(doc.models[i].url, kLinkKindModelHub));
    EXPECT_LE(doc.models[i].label.size(), 64u);
  }
  EXPECT_EQ(doc.models[1].label, kHintsMidModelLabel);
}

}  // namespace
