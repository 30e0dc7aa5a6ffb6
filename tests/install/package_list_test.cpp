#include "install/package_list.h"

#include "util/text.h"

#include <gtest/gtest.h>

#include <set>

namespace {

ServerManifest manifestWith(bool llm, std::vector<std::wstring> components = {}) {
  ServerManifest m;
  m.deps.url = L"http://x/deps.zip";
  m.deps.present = true;
  m.main.url = L"http://x/main.zip";
  m.main.present = true;
  if (llm) {
    m.llmDeps.url = L"http://x/llm.zip";
    m.llmDeps.present = true;
  }
  for (const std::wstring& name : components) {
    ComponentEntry c;
    c.name = name;
    c.url = L"http://x/" + name;
    c.present = true;
    m.components.push_back(c);
  }
  return m;
}

std::vector<std::wstring> labels(const PackagePlan& plan) {
  std::vector<std::wstring> out;
  for (const PackageItem& item : plan.items) out.push_back(item.label);
  return out;
}

}  // namespace

TEST(PackageList, DepsComponentsInOrderThenMain) {
  const ServerManifest m = manifestWith(true, {L"quotes", L"alpha"});
  const PackagePlan plan = buildPackageList(m, false, true, L"D:\\Orvalo");
  EXPECT_EQ(labels(plan), (std::vector<std::wstring>{L"依赖包", L"quotes", L"alpha", L"主程序"}));
  EXPECT_EQ(plan.items[1].entry, &m.components[0]);
  EXPECT_EQ(plan.items[3].entry, &m.main);
  EXPECT_EQ(plan.items[0].targetDir, L"D:\\Orvalo");
  EXPECT_FALSE(plan.cudaIncluded);
  EXPECT_TRUE(plan.cudaNotice.empty()) << "nothing is said about CUDA without a suitable GPU";
}

TEST(PackageList, DownloadNamesNeverComeFromComponentNames) {
  const ServerManifest m = manifestWith(true, {L"主程序", L"依赖包", L"CUDA组件", L"..\\x"});
  const PackagePlan plan = buildPackageList(m, true, true, L"D:\\O");
  std::set<std::wstring> names;
  for (const PackageItem& item : plan.items) {
    EXPECT_EQ(item.downloadName.rfind(L"QVSetup_", 0), 0u);
    EXPECT_EQ(item.downloadName.find(item.label), std::wstring::npos) << util::toUtf8(item.label);
    names.insert(item.downloadName);
  }
  EXPECT_EQ(names.size(), plan.items.size()) << "two packages would share a download file";
}

TEST(PackageList, CudaOnlyWithGpuRequestAndServerPackage) {
  const ServerManifest with = manifestWith(true);
  const ServerManifest without = manifestWith(false);
  const PackagePlan all = buildPackageList(with, true, true, L"D:\\O");
  EXPECT_EQ(labels(all).back(), L"CUDA组件");
  EXPECT_TRUE(all.cudaIncluded);
  EXPECT_TRUE(all.cudaNotice.empty());

  const PackagePlan missing = buildPackageList(without, true, true, L"D:\\O");
  EXPECT_EQ(missing.items.size(), 2u);
  EXPECT_EQ(missing.cudaNotice, L"服务器未提供 CUDA 组件包，NVIDIA 显卡加速将不可用");

  const PackagePlan unchecked = buildPackageList(with, true, false, L"D:\\O");
  EXPECT_EQ(unchecked.items.size(), 2u);
  EXPECT_EQ(unchecked.cudaNotice, L"未勾选显卡加速组件，稍后检测到本地模型时会引导下载");

  // The checkbox is ignored when the GPU is not suitable.
  EXPECT_EQ(buildPackageList(with, false, true, L"D:\\O").items.size(), 2u);
}

TEST(PackageList, ZipPackagesByNameOnly) {
  EXPECT_TRUE(isZipPackage(L"main.zip"));
  EXPECT_TRUE(isZipPackage(L"MAIN.ZIP"));
  EXPECT_TRUE(isZipPackage(L"a.zip"));
  EXPECT_FALSE(isZipPackage(L".zip"));
  EXPECT_FALSE(isZipPackage(L"model.gguf"));
  EXPECT_FALSE(isZipPackage(L"main.zip.part"));
}

TEST(PackageList, NamesFromTheServerMustBeSafeAndOwnTheirMarker) {
  const auto firstBadName = [](ServerManifest m) {
    const PackagePlan plan = buildPackageList(m, false, false, L"D:\\O");
    std::wstring bad = L"<none>";
    return checkServerNames(m, plan, bad) ? std::wstring(L"<none>") : bad;
  };
  ServerManifest good = manifestWith(false, {L"quotes", L"行情"});
  good.deps.filename = L"deps.zip";
  good.main.filename = L"main.zip";
  good.main.exe = L"Orvalo.exe";
  for (ComponentEntry& c : good.components) c.filename = c.name + L".zip";
  EXPECT_EQ(firstBadName(good), L"<none>");

  ServerManifest nulFile = good;
  nulFile.main.filename = L"NUL.txt";
  EXPECT_EQ(firstBadName(nulFile), L"NUL.txt");
  ServerManifest climbingExe = good;
  climbingExe.main.exe = L"..\\x.exe";
  EXPECT_EQ(firstBadName(climbingExe), L"..\\x.exe");
  ServerManifest streamSection = good;
  streamSection.components[1].name = L"a:b";
  EXPECT_EQ(firstBadName(streamSection), L"a:b");
  // "_update.done" is the main program's marker, "_component.done" the dependencies'.
  for (const wchar_t* reserved : {L"update", L"Component", L"AGREEMENT"}) {
    ServerManifest m = good;
    m.components[0].name = reserved;
    EXPECT_EQ(firstBadName(m), reserved);
  }
  ServerManifest database = good;
  database.components[0].filename = L"orvalo.db";
  EXPECT_EQ(firstBadName(database), L"orvalo.db");
}

TEST(PackageWeights, UnprobedPackagesGetTheAverageOrOneHundredMiB) {
  EXPECT_EQ(packageWeights({100, 0, 300}), (std::vector<uint64_t>{100, 200, 300}));
  EXPECT_EQ(packageWeights({0, 0}), (std::vector<uint64_t>{104857600, 104857600}));
  EXPECT_EQ(packageWeights({10, 0, 11}), (std::vector<uint64_t>{10, 10, 11}));
}
