// Reading upgrade plans: the size limits, the shapes of the root and the items, JSON types,
// the root values replacing the command line's, and non-ASCII values.
#include "applier/applier_ctx.h"
#include "applier/texts.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "util/client_contract.h"
#include "util/files.h"

#include <gtest/gtest.h>

using testing_support::TempDir;

namespace {

using applier::kPlanBadSize;
using applier::kPlanItemWithoutUrl;
using applier::kPlanNoItems;
using applier::kPlanParseFailed;

class UpgradePlanFile : public ::testing::Test {
 protected:
  // Writes the bytes as the plan and loads it into ctx_.
  bool load(const std::string& bytes) {
    const std::wstring path = dir_ / L"plan.json";
    EXPECT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
    error_.clear();
    return loadUpgradePlan(path, ctx_, &error_);
  }
  bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
  }

  TempDir dir_;
  applier::Ctx ctx_;
  std::wstring error_;
};

TEST_F(UpgradePlanFile, LoadsRootValuesAndItemsInOrder) {
  ctx_.options.exe = L"C:\\Old\\Orvalo.exe";
  ASSERT_TRUE(load(R"({"exe": "C:\\Orvalo\\Orvalo.exe", "pid": "4242", "launch": false, "extra": 1,
      "items": [{"url": "http://h/main.zip", "sha256": "ab", "version": "2.0", "kind": "main", "dest": ""},
                {"url": "http://h/c.zip", "kind": "quotes", "dest": "plugins\\q"}]})"))
      << std::string(error_.begin(), error_.end());
  EXPECT_EQ(ctx_.options.exe, L"C:\\Orvalo\\Orvalo.exe");
  EXPECT_EQ(ctx_.options.pid, L"4242");
  EXPECT_FALSE(ctx_.options.launch);
  ASSERT_EQ(ctx_.items.size(), 2u);
  EXPECT_EQ(ctx_.items[0].url, L"http://h/main.zip");
  EXPECT_EQ(ctx_.items[0].sha256, L"ab");
  EXPECT_EQ(ctx_.items[0].version, L"2.0");
  EXPECT_EQ(ctx_.items[1].kind, L"quotes");
  EXPECT_EQ(ctx_.items[1].dest, L"plugins\\q");
  EXPECT_TRUE(ctx_.items[1].src.empty());
}

TEST_F(UpgradePlanFile, ItemsCarryAPackageIndexOnlyWithAnAddressAndADigest) {
  const std::string digest(64, 'A');
  ASSERT_TRUE(load(R"({"items": [{"url": "http://h/m.zip", "kind": "main", "index": "http://h/m.zip.index",
      "index_sha256": ")" + digest + R"("}, {"url": "http://h/q.zip", "kind": "quotes"}]})"));
  EXPECT_EQ(ctx_.items[0].index, L"http://h/m.zip.index");
  EXPECT_EQ(ctx_.items[0].indexSha256, std::string(64, 'a'));
  EXPECT_TRUE(ctx_.items[1].index.empty());
  EXPECT_TRUE(ctx_.items[1].indexSha256.empty());

  const std::string bad[] = {R"("index": "http://h/m.zip.index")",
                             R"("index": "m.zip.index", "index_sha256": ")" + digest + "\"",
                             R"("index": "http://h/i", "index_sha256": "abc")",
                             R"("index_sha256": ")" + digest + "\""};
  for (const std::string& fields : bad) {
    EXPECT_FALSE(load(R"({"items": [{"url": "http://h/m.zip", "kind": "main", )" + fields + "}]}")) << fields;
    EXPECT_TRUE(startsWith(error_, applier::kPlanBadIndex));
  }
}

TEST_F(UpgradePlanFile, MissingRootValuesReplaceTheCommandLinesToo) {
  ctx_.options.exe = L"C:\\Orvalo\\Orvalo.exe";
  ctx_.options.pid = L"77";
  ctx_.options.launch = false;  // --launch 0
  ASSERT_TRUE(load(R"({"items": [{"url": "http://h/a.zip"}]})"));
  EXPECT_EQ(ctx_.options.exe, L"");
  EXPECT_EQ(ctx_.options.pid, L"");
  EXPECT_TRUE(ctx_.options.launch);
}

TEST_F(UpgradePlanFile, SizeLimitIsInclusiveAndEmptyIsRefused) {
  const std::string head = R"({"items": [{"url": "http://h/a.zip"}], "pad": ")";
  const std::string tail = "\"}";
  std::string exact = head + std::string(client::kMaxPlanBytes - head.size() - tail.size(), 'x') + tail;
  ASSERT_EQ(exact.size(), 262144u);
  EXPECT_TRUE(load(exact)) << std::string(error_.begin(), error_.end());

  std::string over = head + std::string(client::kMaxPlanBytes + 1 - head.size() - tail.size(), 'x') + tail;
  EXPECT_FALSE(load(over));
  EXPECT_EQ(error_, kPlanBadSize);
  EXPECT_FALSE(load(""));
  EXPECT_EQ(error_, kPlanBadSize);
}

TEST_F(UpgradePlanFile, UnreadableFileNamesThePath) {
  const std::wstring missing = dir_ / L"没有的计划.json";
  EXPECT_FALSE(loadUpgradePlan(missing, ctx_, &error_));
  EXPECT_EQ(error_, applier::kPlanUnreadable + missing);
  // A folder cannot be read as a plan either.
  EXPECT_FALSE(loadUpgradePlan(dir_.path(), ctx_, &error_));
  EXPECT_EQ(error_, applier::kPlanUnreadable + dir_.path());
}

TEST_F(UpgradePlanFile, RootAndItemsShapes) {
  for (const char* text : {R"({"items": []})", R"({"items": {}})", R"([{"url": "http://h/a.zip"}])",
                           R"({"exe": "C:\\a\\b.exe"})", R"({"items": "x"})", "42"}) {
    EXPECT_FALSE(load(text)) << text;
    EXPECT_EQ(error_, kPlanNoItems) << text;
  }
}

TEST_F(UpgradePlanFile, WrongJsonTypesAreParseFailures) {
  for (const char* text : {R"({"pid": 4242, "items": [{"url": "http://h/a.zip"}]})",
                           R"({"launch": "false", "items": [{"url": "http://h/a.zip"}]})",
                           R"({"exe": null, "items": [{"url": "http://h/a.zip"}]})",
                           R"({"items": [{"url": null}]})",
                           R"({"items": [{"url": "http://h/a.zip", "sha256": 1}]})",
                           R"({"items": [{"url": "http://h/a.zip"}, "http://h/b.zip"]})",
                           R"({"items": [{"url": "http://h/a.zip"},]})",
                           R"({"items": [{"url": "http://h/a.zip"}]} // comment)",
                           R"({"items": [{"url": "http://h/a.zip"})"}) {
    EXPECT_FALSE(load(text)) << text;
    EXPECT_TRUE(startsWith(error_, kPlanParseFailed)) << text;
    EXPECT_GT(error_.size(), std::wstring(kPlanParseFailed).size()) << text;
  }
  // The same digits as a string load.
  EXPECT_TRUE(load(R"({"pid": "4242", "items": [{"url": "http://h/a.zip"}]})"));
  EXPECT_EQ(ctx_.options.pid, L"4242");
}

TEST_F(UpgradePlanFile, AnItemWithoutUrlFailsTheWholePlan) {
  EXPECT_FALSE(load(R"({"items": [{"url": "http://h/a.zip"}, {"kind": "quotes"}]})"));
  EXPECT_EQ(error_, kPlanItemWithoutUrl);
  EXPECT_FALSE(load(R"({"items": [{"URL": "http://h/a.zip"}]})"));
  EXPECT_EQ(error_, kPlanItemWithoutUrl);
  EXPECT_FALSE(load(R"({"items": [{"url": ""}]})"));
  EXPECT_EQ(error_, kPlanItemWithoutUrl);
}

TEST_F(UpgradePlanFile, AKindThatIsNoPlainComponentNameFailsTheWholePlan) {
  EXPECT_FALSE(load(R"({"items": [{"url": "http://h/a.zip", "kind": "..\\..\\x"}]})"));
  EXPECT_EQ(error_, applier::kPlanBadKind + std::wstring(L"..\\..\\x"));
  EXPECT_FALSE(load(R"({"items": [{"url": "http://h/a.zip"}, {"url": "http://h/b.zip", "kind": "update"}]})"));
  EXPECT_EQ(error_, applier::kPlanBadKind + std::wstring(L"update"));
  EXPECT_TRUE(load(R"({"items": [{"url": "http://h/a.zip", "kind": "llm_deps"}, {"url": "http://h/b.zip", "kind": ""}]})"));
}

TEST_F(UpgradePlanFile, NonAsciiValuesAndByteOrderMark) {
  ASSERT_TRUE(load("\xEF\xBB\xBF" R"({"items": [{"url": "http://h/a.zip", "dest": "插件\\行情", "version": "2.0 正式版"}]})"));
  EXPECT_EQ(ctx_.items[0].dest, L"插件\\行情");
  EXPECT_EQ(ctx_.items[0].version, L"2.0 正式版");
}

// The vendor's check of a plan prints what the applier would take from it.
TEST_F(UpgradePlanFile, ToolPrintsThePlanAsTheApplierReadsIt) {
  const std::string plan = R"({"exe": "C:\\订单\\Orvalo.exe", "pid": "12", "items": [{"url": "http://h/a.zip", "kind": "Main"}]})";
  const std::wstring path = dir_ / L"plan.json";
  ASSERT_TRUE(util::writeFile(path, plan.data(), plan.size()));
  const auto result = testing_support::runProcess(
      testing_support::quoteArg(testing_support::binPath(L"orvalo-tool.exe")) + L" plan " + testing_support::quoteArg(path));
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output,
            "{\"exe\":\"C:\\\\订单\\\\Orvalo.exe\",\"pid\":\"12\",\"launch\":true,\"items\":[{\"url\":\"http://h/a.zip\","
            "\"sha256\":\"\",\"version\":\"\",\"kind\":\"Main\",\"dest\":\"\"}]}\n");

  const std::string bad = R"({"items": [{"URL": "x"}]})";
  ASSERT_TRUE(util::writeFile(path, bad.data(), bad.size()));
  const auto failed = testing_support::runProcess(
      testing_support::quoteArg(testing_support::binPath(L"orvalo-tool.exe")) + L" plan " + testing_support::quoteArg(path));
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.output, "error: 升级计划包含缺少 url 的升级项\n");
}

// Without a plan the run has one item, made of the command line's package fields.
TEST(UpgradeCommandLineItem, TakesThePackageFieldsOfTheRunOptions) {
  applier::UpgradeOptions options;
  options.url = L"http://h/quotes.zip";
  options.sha256 = L"ab";
  options.version = L"2.1";
  options.kind = L"quotes";
  options.dest = L"plugins\\q";
  options.src = L"C:\\new";
  options.clean = L"C:\\tmp\\x";
  options.exe = L"C:\\Orvalo\\Orvalo.exe";
  const UpgradeItem item = commandLineItem(options);
  EXPECT_EQ(item.url, options.url);
  EXPECT_EQ(item.sha256, options.sha256);
  EXPECT_EQ(item.version, options.version);
  EXPECT_EQ(item.kind, options.kind);
  EXPECT_EQ(item.dest, options.dest);
  EXPECT_EQ(item.src, options.src);
  EXPECT_EQ(item.clean, options.clean);
}

}  // namespace
