// The graphics adapter with the most dedicated video memory, and the local-model advice derived
// from it: the line shown on the options page, the recommended model tier and whether the CUDA
// component is offered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace install {

struct GpuInfo {
  bool gpuCapable = false;      // dedicatedBytes is at least 6 GiB
  std::wstring name;            // the chosen adapter's description; empty when none was chosen
  uint64_t dedicatedBytes = 0;  // its dedicated video memory
};

// What the choice needs of one adapter, as the system describes it.
struct AdapterDescription {
  std::wstring description;
  uint32_t vendorId = 0;
  uint32_t flags = 0;  // DXGI_ADAPTER_FLAG_*
  uint64_t dedicatedVideoMemory = 0;
};

// Picks the hardware adapter with the most dedicated memory from adapters in enumeration order;
// the first of equals wins, and an adapter without dedicated memory is never chosen.
GpuInfo chooseAdapter(const std::vector<AdapterDescription>& adapters);

// Enumerates the machine's adapters through DXGI and chooses one. Any failure gives the empty
// result (no adapter).
GpuInfo detectGpu();

// The options page's line on the adapter, its memory and the model size range.
std::wstring gpuText(const GpuInfo& gpu);

// "small", "mid" or "large".
std::wstring tierFor(const GpuInfo& gpu);

}  // namespace install
