#include "install/gpu.h"

#include "install/texts.h"

#include <gtest/gtest.h>

#include <string>

using namespace install;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kGiB = uint64_t{1} << 30;

AdapterDescription adapter(const std::wstring& name, uint64_t memory, uint32_t vendor = 0x10de,
                           uint32_t flags = 0) {
  return {name, vendor, flags, memory};
}

GpuInfo withMemory(uint64_t bytes) { return chooseAdapter({adapter(L"GPU", bytes)}); }

// The options page's line for an adapter named "GPU" with that memory figure, lead and range.
std::wstring line(const std::wstring& figure, const wchar_t* lead, const wchar_t* range) {
  return kGpuPrefix + std::wstring(L"GPU") + kGpuMemoryPrefix + figure + kGpuMemorySuffix + lead + range;
}

// The memory part of the line for that figure.
std::wstring memory(const std::wstring& figure) { return kGpuMemoryPrefix + figure + kGpuMemorySuffix; }

bool endsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(ChooseAdapter, SkipsSoftwareRenderers) {
  const GpuInfo gpu = chooseAdapter({
      adapter(L"Software", 16 * kGiB, 0x10de, 2),                  // software flag
      adapter(L"Microsoft Remote Display", 16 * kGiB, 0x1414),     // Microsoft's vendor id
      adapter(L"Microsoft Basic Render Driver", 16 * kGiB, 0x8086),
  });
  EXPECT_TRUE(gpu.name.empty());
  EXPECT_EQ(gpu.dedicatedBytes, 0u);
  EXPECT_FALSE(gpu.gpuCapable);
  EXPECT_EQ(tierFor(gpu), L"small");
  // The name test is case-sensitive.
  EXPECT_EQ(chooseAdapter({adapter(L"basic render driver", 8 * kGiB)}).name, L"basic render driver");
}

TEST(ChooseAdapter, NeverChoosesAnAdapterWithoutDedicatedMemory) {
  const GpuInfo gpu = chooseAdapter({adapter(L"Shared only", 0)});
  EXPECT_TRUE(gpu.name.empty());
  EXPECT_EQ(gpuText(gpu), kGpuNoAdapter);
  EXPECT_TRUE(chooseAdapter({}).name.empty());
}

TEST(ChooseAdapter, TakesTheMostMemoryAndTheFirstOfEquals) {
  GpuInfo gpu = chooseAdapter({adapter(L"Integrated", 512 * kMiB, 0x8086),
                               adapter(L"Discrete", 8 * kGiB, 0x1002)});
  EXPECT_EQ(gpu.name, L"Discrete");
  EXPECT_EQ(gpu.dedicatedBytes, 8 * kGiB);
  EXPECT_TRUE(gpu.gpuCapable);  // any vendor counts
  EXPECT_EQ(tierFor(gpu), L"mid");
  EXPECT_TRUE(endsWith(gpuText(gpu), kGpuModelLead + std::wstring(kGpuRangeMid)));

  gpu = chooseAdapter({adapter(L"First", 4 * kGiB), adapter(L"Second", 4 * kGiB),
                       adapter(L"Small", 1 * kGiB)});
  EXPECT_EQ(gpu.name, L"First");
}

TEST(GpuAdvice, SplitsAtSixGibibytes) {
  const GpuInfo six = withMemory(6442450944);
  EXPECT_TRUE(six.gpuCapable);
  EXPECT_EQ(tierFor(six), L"mid");
  EXPECT_EQ(gpuText(six), line(L"6", kGpuModelLead, kGpuRangeSmallMid));

  const GpuInfo below = withMemory(6442450943);
  EXPECT_FALSE(below.gpuCapable);
  EXPECT_EQ(tierFor(below), L"small");
  EXPECT_EQ(gpuText(below), line(L"6", kGpuLowMemoryLead, kGpuRangeSmall));
}

TEST(GpuAdvice, RecommendsByWholeGibibytes) {
  EXPECT_EQ(tierFor(withMemory(8 * kGiB - 1)), L"mid");
  EXPECT_TRUE(endsWith(gpuText(withMemory(8 * kGiB - 1)), kGpuRangeSmallMid));
  EXPECT_EQ(gpuText(withMemory(8 * kGiB)), line(L"8", kGpuModelLead, kGpuRangeMid));

  const GpuInfo elevenAndHalf = withMemory(11 * kGiB + kGiB / 2);
  EXPECT_EQ(tierFor(elevenAndHalf), L"mid");
  EXPECT_EQ(gpuText(elevenAndHalf), line(L"11.5", kGpuModelLead, kGpuRangeMid));

  EXPECT_EQ(tierFor(withMemory(12 * kGiB - 1)), L"mid");
  const GpuInfo twelve = withMemory(12 * kGiB);
  EXPECT_EQ(tierFor(twelve), L"large");
  EXPECT_EQ(gpuText(twelve), line(L"12", kGpuModelLead, kGpuRangeLarge));
  EXPECT_EQ(tierFor(withMemory(80 * kGiB)), L"large");
}

TEST(GpuAdvice, RoundsTheMemoryFigureToTenthsHalvesUp) {
  EXPECT_NE(gpuText(withMemory(6 * kGiB - kMiB)).find(memory(L"6")), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(512 * kMiB)).find(memory(L"0.5")), std::wstring::npos);
  // 0.05 GiB rounds up to 0.1, just below it rounds down to 0.
  EXPECT_NE(gpuText(withMemory(kGiB / 20 + 1)).find(memory(L"0.1")), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(kGiB / 20 - 1)).find(memory(L"0")), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(kGiB + kGiB * 94 / 100)).find(memory(L"1.9")), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(kGiB + kGiB * 96 / 100)).find(memory(L"2")), std::wstring::npos);
  // The largest sizes do not overflow.
  EXPECT_NE(gpuText(withMemory(UINT64_MAX)).find(memory(L"17179869184")), std::wstring::npos);
}

TEST(GpuAdvice, DescribesTheMissingAdapter) {
  const std::wstring text = gpuText(GpuInfo{});
  EXPECT_EQ(text, kGpuNoAdapter);
  EXPECT_EQ(text.size(), 71u);
  EXPECT_EQ(tierFor(GpuInfo{}), L"small");
}

}  // namespace
