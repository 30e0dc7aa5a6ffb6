// Feeds thousands of damaged hints documents and addresses to the parser and the allowlist. The
// loop is deterministic (a fixed seed), so a failure names a variant that can be replayed.
#include "documents/hints.h"
#include "documents/link_allowlist.h"

#include "util/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace documents;

namespace {

const char kSeedDocument[] = "\xEF\xBB\xBF" R"({
  "datasource": {"intro": " 行情 ", "items": [
    {"name": "通达信", "desc": "TQ", "url": "https://www.tdx.com.cn/"},
    {"name": "B", "url": "HTTPS://x.MyQuant.cn/?a=1#b"},
    {"name": "C", "url": "https://eastmoney.com"}]},
  "local_llm": {"hint": "h\u4e2d\t", "note": "\ud83d\ude00 n", "guideUrl": "https://www.orvalotrader.com/g",
    "items": [{"name": "hub", "url": "https://huggingface.co/x"}],
    "models": [{"name": "m", "size": "1 GB", "url": "https://modelscope.cn/m", "tier": "Small"},
               {"name": "n", "url": "https://modelscope.cn/n", "tier": "MID"},
               {"name": "o", "url": "https://modelscope.cn/o", "tier": "large"},
               {"name": "p", "url": "https://modelscope.cn/p", "tier": "x"}]}
})";

// A small fixed-sequence generator: the same variants on every run and every platform.
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : state_(seed) {}
  uint32_t next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 33);
  }
  size_t below(size_t n) { return n == 0 ? 0 : next() % n; }

 private:
  uint64_t state_;
};

std::string mutate(std::string text, Lcg& rng) {
  static const char kInteresting[] = "{}[]\",:\\ \t\n0-.eE\x00\xff\xc3\xe4\xf0/@#?";
  const int edits = 1 + static_cast<int>(rng.below(4));
  for (int i = 0; i < edits && !text.empty(); ++i) {
    const size_t at = rng.below(text.size());
    switch (rng.below(6)) {
      case 0: text.resize(at); break;                                  // truncate
      case 1: text[at] = static_cast<char>(rng.next()); break;         // random byte
      case 2: text.insert(at, 1, kInteresting[rng.below(sizeof kInteresting - 1)]); break;
      case 3: text.erase(at, 1 + rng.below(16)); break;
      case 4: text.insert(at, text.substr(rng.below(text.size()), rng.below(64))); break;
      default: text[at] = kInteresting[rng.below(sizeof kInteresting - 1)]; break;
    }
  }
  return text;
}

bool isLowerCase(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c >= L'A' && c <= L'Z') return false;
  }
  return true;
}

// What every accepted document must satisfy, whatever its input was.
void expectWithinLimits(const HintsDocument& doc) {
  EXPECT_TRUE(doc.hasContent);
  EXPECT_LE(doc.dataSourceIntro.size(), 400u);
  EXPECT_LE(doc.modelFileNote.size(), 400u);
  EXPECT_LE(doc.mirrorNote.size(), 120u);
  EXPECT_LE(doc.dataSources.size(), 2u);
  EXPECT_LE(doc.links.size(), 1u);
  EXPECT_LE(doc.models.size(), 3u);
  EXPECT_EQ(doc.helpTitle.empty(), doc.helpUrl.empty());
  if (!doc.helpUrl.empty()) {
    EXPECT_TRUE(isAllowedLink(doc.helpUrl, kLinkKindVendor));
  }
  for (const HintLink& l : doc.dataSources) {
    EXPECT_FALSE(l.label.empty());
    EXPECT_LE(l.label.size(), 64u);
    EXPECT_TRUE(isAllowedLink(l.url, kLinkKindMarketData));
  }
  for (const HintLink& l : doc.links) EXPECT_TRUE(isAllowedLink(l.url, kLinkKindModelHub));
  for (const ModelEntry& m : doc.models) {
    EXPECT_LE(m.label.size(), 64u);
    EXPECT_TRUE(isAllowedLink(m.url, kLinkKindModelHub));
    EXPECT_TRUE(isLowerCase(m.tier));
  }
}

TEST(HintsRobustness, SurvivesThousandsOfMutatedAndTruncatedDocuments) {
  const std::string seed = kSeedDocument;
  HintsDocument doc;
  ASSERT_TRUE(parseHints(seed, doc));
  ASSERT_EQ(doc.models.size(), 3u);

  Lcg rng(20261209);
  int accepted = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::string variant = i < 600 ? seed.substr(0, seed.size() * i / 600) : mutate(seed, rng);
    bool ok = false;
    EXPECT_NO_THROW(ok = parseHints(variant, doc)) << "variant " << i;
    if (ok) {
      ++accepted;
      expectWithinLimits(doc);
    }
    if (HasFailure()) FAIL() << "variant " << i << ": " << variant;
  }
  // The loop must reach the parser's deeper paths, not only its syntax errors.
  EXPECT_GT(accepted, 200);
}

TEST(HintsRobustness, AllowlistAnswersEveryDamagedAddress) {
  const std::wstring addresses[] = {L"https://www.tdx.com.cn/a?b#c", L"https://modelscope.cn/models",
                                    L"https://user@huggingface.co:443/x", L"https://[::1]/"};
  Lcg rng(7);
  int allowed = 0;
  for (int i = 0; i < 20000; ++i) {
    std::wstring address = addresses[rng.below(4)];
    const std::string damaged = mutate(util::toUtf8(address), rng);
    address = util::toWide(util::kCodePageUtf8, damaged);
    const int kind = static_cast<int>(rng.below(5)) - 1;
    bool ok = false;
    EXPECT_NO_THROW(ok = isAllowedLink(address, kind));
    if (ok) {
      ++allowed;
      // Whatever passes is an https address without blanks or control characters.
      std::wstring scheme = address.substr(0, 8);
      for (wchar_t& c : scheme) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
      EXPECT_EQ(scheme, L"https://");
      for (wchar_t c : address) EXPECT_GT(c, L' ');
      EXPECT_LE(address.size(), 300u);
    }
    if (HasFailure()) FAIL() << "address " << i << ": " << damaged;
  }
  EXPECT_GT(allowed, 100);
}

}  // namespace
