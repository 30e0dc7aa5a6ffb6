// Which packages an install takes, in which order, under which names, and how much each weighs in
// the overall progress. Plain rules over the manifest, so they can be checked without a server.
#pragma once

#include "packages/manifest.h"

#include <cstdint>
#include <string>
#include <vector>

struct PackageItem {
  std::wstring label;          // shown in the status texts
  const ManifestEntry* entry;  // points into the fetched manifest
  std::wstring targetDir;      // the install folder
  // The zip's download name in the temporary folder. Never the label: a component may be called
  // like a built-in package's label (主程序) and would share its file while that one unpacks. The
  // same manifest gives the same names in every run, so a later run resumes what this one left.
  std::wstring downloadName;
};

struct PackagePlan {
  std::vector<PackageItem> items;
  bool cudaIncluded = false;
  std::wstring cudaNotice;  // a stage text about the CUDA component, or empty
};

// deps, the components in manifest order, main, and the CUDA component when the machine can use
// it, the user asked for it and the server has it.
PackagePlan buildPackageList(const ServerManifest& manifest, bool gpuCapable, bool cudaRequested,
                             const std::wstring& installDir);

// A zip package: the file name, lower-cased, has at least 5 characters and ends in ".zip".
bool isZipPackage(const std::wstring& filename);

// Names from the server become file and folder names: the main program's exe, each package's
// label (a component's section name) and file name must be safe path components, a component
// must not be named after another marker file, and a package that is no zip must not be named
// like a database (it lands in the install folder under that name). False with the first
// offending name in badName.
[[nodiscard]] bool checkServerNames(const ServerManifest& manifest, const PackagePlan& plan,
                                    std::wstring& badName);

// Weights by probed size (0: not probed): unprobed packages weigh the average of the probed ones,
// or 100 MiB when none was probed.
std::vector<uint64_t> packageWeights(const std::vector<uint64_t>& probedSizes);
