#include "install/gpu.h"

#include "install/texts.h"

namespace install {
namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kCapableBytes = 6 * kGiB;
constexpr uint32_t kSoftwareAdapterFlag = 2;    // DXGI_ADAPTER_FLAG_SOFTWARE
constexpr uint32_t kMicrosoftVendorId = 0x1414;  // Microsoft's software renderers

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
  if (gpu.name.empty()) return kGpuNoAdapter;
  const uint64_t wholeGiB = gpu.dedicatedBytes / kGiB;
  const wchar_t* lead = kGpuModelLead;
  const wchar_t* range;
  if (wholeGiB >= 12) {
    range = kGpuRangeLarge;
  } else if (wholeGiB >= 8) {
    range = kGpuRangeMid;
  } else if (wholeGiB >= 6) {
    range = kGpuRangeSmallMid;
  } else {
    lead = kGpuLowMemoryLead;
    range = kGpuRangeSmall;
  }
  return kGpuPrefix + gpu.name + kGpuMemoryPrefix + memoryFigure(gpu.dedicatedBytes) + kGpuMemorySuffix + lead +
         range;
}

std::wstring tierFor(const GpuInfo& gpu) {
  const uint64_t wholeGiB = gpu.dedicatedBytes / kGiB;
  if (gpu.name.empty() || wholeGiB < 6) return L"small";
  return wholeGiB >= 12 ? L"large" : L"mid";
}

}  // namespace install
