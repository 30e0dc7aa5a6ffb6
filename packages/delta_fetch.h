// An upgrade or a repair of one zip package that moves only what changed: the package's index,
// trusted only through its digest, tells which of the installed files differ; their entries are
// fetched by range from the zip itself, checked and inflated beside their places, then handed to
// the caller's placement. Whatever makes that unsafe or impossible asks for the whole package
// instead, before anything is placed.
#pragma once

#include "net/download.h"
#include "packages/zip_place.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace delta {

struct IndexedPackage {
  std::wstring url;         // the zip
  std::wstring indexUrl;    // its index
  std::string indexSha256;  // lower-case hex, as the signed manifest or the plan gives it
  uint64_t size = 0;        // the zip's size when a probe just told it; 0: probed here
  std::wstring rangesFile;  // where the fetched bytes wait while they are used; removed after
  // The index as fetched already (fetchIndex), or empty: fetched here.
  std::string indexBytes;
};

// The index's bytes, bounded by kMaxPackageIndexBytes, for a caller that fetches it early (while
// it asks for the packages' sizes, say); empty when it cannot be fetched.
std::string fetchIndex(const std::wstring& indexUrl, CancelEvent cancel);

enum class Outcome {
  kPlaced,  // every entry that differed went to the placement (none may have differed)
  kWhole,   // nothing was placed: the package is to be fetched whole, failure says why
  kFailed,  // a cancel or a disk failure that ends the job, in failure
};

struct Result {
  Outcome outcome = Outcome::kPlaced;
  util::Failure failure;
  size_t entries = 0;    // the entries fetched and placed
  uint64_t fetched = 0;  // bytes received: the index and the entries' ranges
};

struct Progress {
  ByteProgress comparing;  // (bytes hashed, bytes to hash) of the installed files
  ByteProgress fetching;   // (bytes received, bytes to receive) of the entries
};

// Brings targetDir's files of the package to the index's content. Each entry fetched is inflated
// to its target + kStagedSuffix (its folders made by hooks.makeFolder) and checked; only once all
// of them are does each go to hooks.placeFile (by default renamed over its target). The index
// comes with at most kMaxPackageIndexBytes; a package whose server ignores ranges, an index that
// fails its digest or its reading, names an unsafe path or points at bytes that are not its
// entries, is kWhole. Database files are never touched.
Result fetchChangedEntries(const IndexedPackage& package, const std::wstring& targetDir, const PlaceHooks& hooks,
                           const Progress& progress, CancelEvent cancel);

}  // namespace delta
