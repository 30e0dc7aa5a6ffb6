#include "install/gpu.h"

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
  EXPECT_EQ(gpuText(gpu).rfind(L"显卡：未检测到可用独立显卡", 0), 0u);
  EXPECT_TRUE(chooseAdapter({}).name.empty());
}

TEST(ChooseAdapter, TakesTheMostMemoryAndTheFirstOfEquals) {
  GpuInfo gpu = chooseAdapter({adapter(L"Integrated", 512 * kMiB, 0x8086),
                               adapter(L"Discrete", 8 * kGiB, 0x1002)});
  EXPECT_EQ(gpu.name, L"Discrete");
  EXPECT_EQ(gpu.dedicatedBytes, 8 * kGiB);
  EXPECT_TRUE(gpu.gpuCapable);  // any vendor counts
  EXPECT_EQ(tierFor(gpu), L"mid");
  EXPECT_TRUE(endsWith(gpuText(gpu), L"\n推荐本地模型：7B ~ 14B（Q4 量化）"));

  gpu = chooseAdapter({adapter(L"First", 4 * kGiB), adapter(L"Second", 4 * kGiB),
                       adapter(L"Small", 1 * kGiB)});
  EXPECT_EQ(gpu.name, L"First");
}

TEST(GpuAdvice, SplitsAtSixGibibytes) {
  const GpuInfo six = withMemory(6442450944);
  EXPECT_TRUE(six.gpuCapable);
  EXPECT_EQ(tierFor(six), L"mid");
  EXPECT_EQ(gpuText(six), L"显卡：GPU（专用显存 6 GB）\n推荐本地模型：7B ~ 8B（Q4_K_M 量化）");

  const GpuInfo below = withMemory(6442450943);
  EXPECT_FALSE(below.gpuCapable);
  EXPECT_EQ(tierFor(below), L"small");
  EXPECT_EQ(gpuText(below), L"显卡：GPU（专用显存 6 GB）\n显存低于 6 GB，推荐本地模型：1.5B ~ 3B（Q4 量化）");
}

TEST(GpuAdvice, RecommendsByWholeGibibytes) {
  EXPECT_EQ(tierFor(withMemory(8 * kGiB - 1)), L"mid");
  EXPECT_TRUE(endsWith(gpuText(withMemory(8 * kGiB - 1)), L"7B ~ 8B（Q4_K_M 量化）"));
  EXPECT_EQ(gpuText(withMemory(8 * kGiB)), L"显卡：GPU（专用显存 8 GB）\n推荐本地模型：7B ~ 14B（Q4 量化）");

  const GpuInfo elevenAndHalf = withMemory(11 * kGiB + kGiB / 2);
  EXPECT_EQ(tierFor(elevenAndHalf), L"mid");
  EXPECT_EQ(gpuText(elevenAndHalf), L"显卡：GPU（专用显存 11.5 GB）\n推荐本地模型：7B ~ 14B（Q4 量化）");

  EXPECT_EQ(tierFor(withMemory(12 * kGiB - 1)), L"mid");
  const GpuInfo twelve = withMemory(12 * kGiB);
  EXPECT_EQ(tierFor(twelve), L"large");
  EXPECT_EQ(gpuText(twelve), L"显卡：GPU（专用显存 12 GB）\n推荐本地模型：14B ~ 32B（Q4 量化）");
  EXPECT_EQ(tierFor(withMemory(80 * kGiB)), L"large");
}

TEST(GpuAdvice, RoundsTheMemoryFigureToTenthsHalvesUp) {
  EXPECT_NE(gpuText(withMemory(6 * kGiB - kMiB)).find(L"（专用显存 6 GB）"), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(512 * kMiB)).find(L"（专用显存 0.5 GB）"), std::wstring::npos);
  // 0.05 GiB rounds up to 0.1, just below it rounds down to 0.
  EXPECT_NE(gpuText(withMemory(kGiB / 20 + 1)).find(L"（专用显存 0.1 GB）"), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(kGiB / 20 - 1)).find(L"（专用显存 0 GB）"), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(kGiB + kGiB * 94 / 100)).find(L"（专用显存 1.9 GB）"), std::wstring::npos);
  EXPECT_NE(gpuText(withMemory(kGiB + kGiB * 96 / 100)).find(L"（专用显存 2 GB）"), std::wstring::npos);
  // The largest sizes do not overflow.
  EXPECT_NE(gpuText(withMemory(UINT64_MAX)).find(L"（专用显存 17179869184 GB）"), std::wstring::npos);
}

TEST(GpuAdvice, DescribesTheMissingAdapter) {
  const std::wstring text = gpuText(GpuInfo{});
  EXPECT_EQ(text,
            L"显卡：未检测到可用独立显卡（本地 GPU 推理需专用显存 ≥ 6 GB）\n"
            L"推荐本地模型：1.5B ~ 3B（Q4 量化），或改用服务器智能分析");
  EXPECT_EQ(text.size(), 71u);
  EXPECT_EQ(tierFor(GpuInfo{}), L"small");
}

}  // namespace
