// Fetching only what changed: which entries of a package an installation lacks (compared with the
// package's index), which byte ranges of the zip hold them, and turning one entry's fetched bytes
// into its checked content. No server is involved here; the caller fetches the ranges and falls
// back to the whole package whenever anything here fails.
#pragma once

#include "packages/package_index.h"
#include "util/byte_progress.h"
#include "util/failure.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace delta {

// The local header's extra field is not in the index (its name is the entry's path), so a range
// reaches this far past the name for it, in the same request as the content rather than in a
// round trip of its own; an entry whose extra field is longer fails (and the package is fetched
// whole). Common writers put a few dozen bytes there, or none.
inline constexpr uint64_t kLocalHeaderFixedBytes = 30;
inline constexpr uint64_t kExtraFieldMargin = 1024;
// Neighbouring entries are fetched in one range when fewer bytes than this lie between them: one
// request less is worth more than a few wasted kilobytes.
inline constexpr uint64_t kCoalesceGapBytes = 64 * 1024;

// Where each entry of the index lands in installDir: the entry name with '\' separators, without
// the one top-level folder every entry lies below when the package is wrapped in one (as
// extraction drops it). Empty for a database file, which a package never writes. False when a
// name fails the zip entry rules (isSafeEntryPath), with the text saying which.
[[nodiscard]] bool entryTargets(const PackageIndex& index, const std::wstring& installDir,
                                std::vector<std::wstring>& targets, std::wstring& failureText);

// The indexes (into index.entries, in order) of the entries whose file in installDir is missing
// or differs: a file of the same size is hashed (on several threads) and kept when its SHA-256 is
// the entry's. Database files are never listed. A file that cannot be read is listed. progress
// receives (bytes hashed, bytes to hash) from one thread at a time; false stops the hashing as a
// cancel. An unsafe entry name fails as a verification failure.
[[nodiscard]] bool entriesNeeded(const PackageIndex& index, const std::wstring& installDir,
                                 std::vector<size_t>& needed, util::Failure* failure,
                                 const ByteProgress& progress = {});

// entriesNeeded in two steps, so that a caller can fetch the first while it hashes: the entries
// whose file is missing, unreadable or of another size (needed for certain), and those whose file
// has the entry's size (to hash). targets as entryTargets gives them; database files are in neither.
void entriesBySize(const PackageIndex& index, const std::vector<std::wstring>& targets, std::vector<size_t>& differ,
                   std::vector<size_t>& sameSize);
// Of those same-size candidates, the ones whose file's SHA-256 is not the entry's (or cannot be
// computed), in index order; hashed on several threads, with progress as entriesNeeded reports it.
// False when progress stopped it.
[[nodiscard]] bool entriesThatDiffer(const PackageIndex& index, const std::vector<std::wstring>& targets,
                                     const std::vector<size_t>& candidates, std::vector<size_t>& differing,
                                     const ByteProgress& progress = {});

// One request's bytes [first, first + count) of the zip, and the entries it holds (each from its
// headerOffset - first on).
struct FetchRange {
  uint64_t first = 0;
  uint64_t count = 0;
  std::vector<size_t> entries;
};

// The ranges that hold the needed entries, in offset order, neighbours coalesced. An entry's span
// is its local header with its name, the margin for the extra field, and its compressed bytes,
// cut at the next entry's header and at packageSize (the zip's size as the manifest states it).
// False when an entry's bytes would lie past packageSize or reach another entry's header, or when
// its offsets overflow, or when two entries share a header: such an index is not used.
[[nodiscard]] bool rangesFor(const PackageIndex& index, const std::vector<size_t>& needed, uint64_t packageSize,
                             std::vector<FetchRange>& ranges, std::wstring& failureText);

// Turns one entry's bytes (from its local header on, as fetched: bytes may run past its end)
// into its content in outPath (created or replaced): the local header must carry the entry's
// name byte for byte and its method, the content is stored or raw deflate and must come to exactly the size,
// CRC-32 and SHA-256 of the index. On failure outPath is removed and failure says why.
// flush forces the content to disk before the file is closed.
[[nodiscard]] bool writeEntry(const PackageIndexEntry& entry, const char* bytes, size_t count,
                              const std::wstring& outPath, util::Failure& failure, bool flush = false);

}  // namespace delta
