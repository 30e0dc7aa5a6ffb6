#include "install/package_list.h"

#include "install/texts.h"
#include "util/database_files.h"
#include "util/file_names.h"
#include "util/text.h"

namespace {

constexpr uint64_t kDefaultWeight = 104857600;  // 100 MiB

}  // namespace

bool isZipPackage(const std::wstring& filename) {
  return filename.size() >= 5 && util::endsWithIgnoringCase(filename, L".zip");
}

bool checkServerNames(const ServerManifest& manifest, const PackagePlan& plan, std::wstring& badName) {
  std::vector<const std::wstring*> names = {&manifest.main.exe};
  for (const PackageItem& item : plan.items) {
    names.push_back(&item.label);
    names.push_back(&item.entry->filename);
  }
  for (const std::wstring* name : names) {
    if (!util::isSafePathComponent(*name)) {
      badName = *name;
      return false;
    }
  }
  // A component writes the marker "_" + name + ".done": it must not replace another's.
  for (const ComponentEntry& component : manifest.components) {
    if (util::isReservedMarkerName(component.name)) {
      badName = component.name;
      return false;
    }
  }
  for (const PackageItem& item : plan.items) {
    if (!isZipPackage(item.entry->filename) && isDatabaseFile(item.entry->filename)) {
      badName = item.entry->filename;
      return false;
    }
  }
  return true;
}

PackagePlan buildPackageList(const ServerManifest& manifest, bool gpuCapable, bool cudaRequested,
                             const std::wstring& installDir) {
  PackagePlan plan;
  // Built-in packages by their section's reserved name, components by their place among the
  // components: neither can be spelled by a vendor's section name.
  plan.items.push_back({install::kLabelDeps, &manifest.deps, installDir, L"QVSetup_deps.zip"});
  for (size_t i = 0; i < manifest.components.size(); ++i) {
    const ComponentEntry& component = manifest.components[i];
    plan.items.push_back(
        {component.name, &component, installDir, L"QVSetup_component" + std::to_wstring(i + 1) + L".zip"});
  }
  plan.items.push_back({install::kLabelMain, &manifest.main, installDir, L"QVSetup_main.zip"});
  if (gpuCapable) {
    if (cudaRequested && manifest.llmDeps.present) {
      plan.items.push_back({install::kLabelCuda, &manifest.llmDeps, installDir, L"QVSetup_llm_deps.zip"});
      plan.cudaIncluded = true;
    } else if (cudaRequested) {
      plan.cudaNotice = install::kCudaNotOffered;
    } else {
      plan.cudaNotice = install::kCudaNotChosen;
    }
  }
  return plan;
}

std::vector<uint64_t> packageWeights(const std::vector<uint64_t>& probedSizes) {
  uint64_t sum = 0;
  uint64_t probed = 0;
  for (uint64_t size : probedSizes) {
    if (size > 0) {
      sum += size;
      ++probed;
    }
  }
  const uint64_t fallback = probed > 0 ? sum / probed : kDefaultWeight;
  std::vector<uint64_t> weights;
  weights.reserve(probedSizes.size());
  for (uint64_t size : probedSizes) weights.push_back(size > 0 ? size : fallback);
  return weights;
}
