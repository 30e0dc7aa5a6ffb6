#include "prog/reporter.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Records everything the reporter hands out.
struct Sinks {
  std::vector<std::wstring> lines;
  std::vector<std::pair<uint64_t, uint64_t>> counts;
  std::vector<prog::TotalInfo> totals;

  prog::Reporter make() {
    return prog::Reporter([this](const std::wstring& l) { lines.push_back(l); },
                          [this](uint64_t d, uint64_t t) { counts.emplace_back(d, t); },
                          [this](const prog::TotalInfo& i) { totals.push_back(i); });
  }
};

}  // namespace

TEST(Reporter, DownloadLineShowsRoundedPercentAndSizes) {
  Sinks s;
  prog::Reporter r = s.make();
  r.setStage(L"正在下载主程序…", prog::kPhaseDownload);
  r.setCounts(1572864, 10485760, true);
  ASSERT_EQ(s.lines.size(), 2u);
  EXPECT_EQ(s.lines[0], L"正在下载主程序…");
  EXPECT_EQ(s.lines[1], L"正在下载主程序… 15% · 1.5 MB/10.0 MB");
  // 1 of 8 is 12.5 %: halves go up. Without sizes only the percentage follows.
  r.setCounts(1, 8, false);
  EXPECT_EQ(s.lines.back(), L"正在下载主程序… 13%");
  r.setCounts(2, 1, false);
  EXPECT_EQ(s.lines.back(), L"正在下载主程序… 200%") << "not clamped";
}

TEST(Reporter, UnchangedLinesAreNotResentButCountersAlwaysAre) {
  Sinks s;
  prog::Reporter r = s.make();
  r.setStage(L"正在校验…", prog::kPhaseNone);
  r.setStage(L"正在校验…", prog::kPhaseNone);
  EXPECT_EQ(s.lines, std::vector<std::wstring>{L"正在校验…"});
  EXPECT_EQ(s.counts, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}, {0, 0}}));
  r.setCounts(100, 1000, false);
  r.setCounts(101, 1000, false);  // still 10 %
  EXPECT_EQ(s.lines.size(), 2u);
  EXPECT_EQ(s.counts.back(), std::make_pair(uint64_t{101}, uint64_t{1000}));
}

TEST(Reporter, AnEmptyFirstLineIsNeverSent) {
  Sinks s;
  prog::Reporter r = s.make();
  r.setStage(L"", prog::kPhaseNone);
  EXPECT_TRUE(s.lines.empty());
  EXPECT_EQ(s.counts.size(), 1u);
}

TEST(Reporter, CountsWithoutATotalShowNoPercentageAndNoPosition) {
  Sinks s;
  prog::Reporter r = s.make();
  r.setPackage(0, 2, 0, 0, 0);
  s.totals.clear();
  r.setStage(L"正在下载依赖包…", prog::kPhaseDownload);
  r.setCounts(5, 0, true);
  EXPECT_EQ(s.lines.back(), L"正在下载依赖包…");
  EXPECT_EQ(s.counts.back(), std::make_pair(uint64_t{5}, uint64_t{0}));
  EXPECT_TRUE(s.totals.empty());
}

TEST(Reporter, NoPackageSequenceProducesNoPosition) {
  Sinks s;
  prog::Reporter r = s.make();
  r.setStage(L"正在复制…", prog::kPhaseOverwrite);
  r.setCounts(1, 2, false);
  EXPECT_TRUE(s.totals.empty());
}

TEST(Reporter, UnweightedPackagesShareTheBarEqually) {
  Sinks s;
  prog::Reporter r = s.make();
  r.setPackage(1, 3, 0, 0, 0);
  ASSERT_EQ(s.totals.size(), 1u);
  EXPECT_EQ(s.totals[0].index, 2u);
  EXPECT_EQ(s.totals[0].count, 3u);
  EXPECT_EQ(s.totals[0].permille, 333);
  r.setStage(L"正在下载…", prog::kPhaseDownload);
  r.setCounts(50, 100, true);
  EXPECT_EQ(s.totals.back().permille, 450);  // (1000 + 350) / 3
}

TEST(Reporter, WeightedPositionAndPhaseSpans) {
  Sinks s;
  prog::Reporter r = s.make();
  r.setPackage(2, 3, 600, 400, 1000);
  r.setStage(L"正在覆盖…", prog::kPhaseOverwrite);
  r.setCounts(5, 10, false);
  EXPECT_EQ(s.totals.back().index, 3u);
  EXPECT_EQ(s.totals.back().permille, 955);  // stage 925: (600*925/1000 + 400)*1000/1000

  // done above total stays within the phase's span, and the position never falls back
  // inside a package.
  r.setStage(L"正在解压…", prog::kPhaseExtract);
  r.setCounts(30, 10, false);
  EXPECT_EQ(s.totals.back().permille, 955);
  r.setStage(L"正在覆盖…", prog::kPhaseOverwrite);
  r.setCounts(30, 10, false);
  EXPECT_EQ(s.totals.back().permille, 1000);

  // A new package starts from its own beginning.
  r.setPackage(0, 1, 0, 0, 0);
  EXPECT_EQ(s.totals.back().permille, 0);
  r.setStage(L"正在校验…", prog::kPhaseVerify);
  r.setCounts(1, 2, true);
  EXPECT_EQ(s.totals.back().permille, 725);
}

TEST(Reporter, EmptySinksAreSkipped) {
  prog::Reporter r(nullptr, nullptr, nullptr);
  r.setPackage(0, 1, 1, 0, 1);
  r.setStage(L"x", prog::kPhaseDownload);
  r.setCounts(1, 2, true);
  EXPECT_EQ(r.lastLine(), L"x 50% · 0 KB/0 KB");
}
