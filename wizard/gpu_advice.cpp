#include "wizard/gpu.h"

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kCapableBytes = 6 * kGiB;
constexpr uint32_t kSoftwareAdapterFlag = 2;    // DXGI_ADAPTER_FLAG_SOFTWARE
constexpr uint32_t kMicrosoftVendorId = 0x1414;  // Microsoft's software renderers

constexpr wchar_t kNoAdapterText[] =
    L"显卡：未检测到可用独立显卡（本地 GPU 推理需专用显存 ≥ 6 GB）\n"
    L"推荐本地模型：1.5B ~ 3B（Q4 量化），或改用服务器智能分析";

bool isSoftwareAdapter(const AdapterDescription& adapter) {
  return (adapter.flags & kSoftwareAdapterFlag) != 0 || adapter.vendorId == kMicrosoftVendorId ||
         adapter.description.find(L"Basic Render Driver") != std::wstring::npos;
}

// Memory in tenths of a GiB, halves rounded up, without overflowing for any 64-bit size.
std::wstring memoryFigure(uint64_t bytes) {
  const uint64_t tenths = (bytes / kGiB) * 10 + ((bytes % kGiB) * 10 + kGiB / 2) / kGiB;
  std::wstring figure = std::to_wstring(tenths / 10);
  if (tenths % 10 != 0) figure += L"." + std::to_wstring(tenths % 10);
  return figure;
}

}  // namespace

GpuInfo chooseAdapter(const std::vector<AdapterDescription>& adapters) {
  GpuInfo best;
  for (const AdapterDescription& adapter : adapters) {
    if (isSoftwareAdapter(adapter)) continue;
    if (adapter.dedicatedVideoMemory > best.dedicatedBytes) {
      best.name = adapter.description;
      best.dedicatedBytes = adapter.dedicatedVideoMemory;
    }
  }
  best.gpuCapable = best.dedicatedBytes >= kCapableBytes;
  return best;
}

std::wstring gpuText(const GpuInfo& gpu) {
  if (gpu.name.empty()) return kNoAdapterText;
  const uint64_t wholeGiB = gpu.dedicatedBytes / kGiB;
  const wchar_t* lead = L"\n推荐本地模型：";
  const wchar_t* range;
  if (wholeGiB >= 12) {
    range = L"14B ~ 32B（Q4 量化）";
  } else if (wholeGiB >= 8) {
    range = L"7B ~ 14B（Q4 量化）";
  } else if (wholeGiB >= 6) {
    range = L"7B ~ 8B（Q4_K_M 量化）";
  } else {
    lead = L"\n显存低于 6 GB，推荐本地模型：";
    range = L"1.5B ~ 3B（Q4 量化）";
  }
  return L"显卡：" + gpu.name + L"（专用显存 " + memoryFigure(gpu.dedicatedBytes) + L" GB）" + lead +
         range;
}

std::wstring tierFor(const GpuInfo& gpu) {
  const uint64_t wholeGiB = gpu.dedicatedBytes / kGiB;
  if (gpu.name.empty() || wholeGiB < 6) return L"small";
  return wholeGiB >= 12 ? L"large" : L"mid";
}
