#include "packages/delta_fetch.h"

#include "net/document.h"
#include "net/http_connection.h"
#include "net/range_fetch.h"
#include "net/sha256.h"
#include "packages/delta.h"
#include "packages/package_index_io.h"
#include "packages/texts.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/handles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace delta {
namespace {

using util::FailureKind;

// Pieces a range is asked for in: large enough that a round trip is a small part of each, small
// enough that a few megabytes spread over every connection.
constexpr uint64_t kSmallestPiece = 256 * 1024;
constexpr uint64_t kLargestPiece = 4 * 1024 * 1024;

// A file's bytes, read-only in memory for as long as this lives.
class MappedFile {
 public:
  bool open(const std::wstring& path) {
    file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return false;
    mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping_) return false;
    view_ = static_cast<const char*>(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
    return view_ != nullptr;
  }
  ~MappedFile() {
    if (view_) UnmapViewOfFile(view_);
  }
  const char* data() const { return view_; }

 private:
  util::FileHandle file_;
  util::Handle mapping_;
  const char* view_ = nullptr;
};

// Removes the file however the call ends.
class RemovedAfter {
 public:
  explicit RemovedAfter(std::wstring path) : path_(std::move(path)) {}
  ~RemovedAfter() { util::deleteFileForce(path_); }
  RemovedAfter(const RemovedAfter&) = delete;
  RemovedAfter& operator=(const RemovedAfter&) = delete;

 private:
  std::wstring path_;
};

// The requests for the ranges: a large one in pieces of about a connection's share of the whole,
// so that it comes over every connection at once rather than at one connection's pace, each
// connection asking about once. Pieces follow each other in the fetched file as their range would.
std::vector<net::ByteSpan> spansOf(const std::vector<FetchRange>& ranges) {
  uint64_t total = 0;
  for (const FetchRange& range : ranges) total += range.count;
  const uint64_t piece = std::clamp<uint64_t>((total + net::kMaxRangeConnections - 1) / net::kMaxRangeConnections,
                                              kSmallestPiece, kLargestPiece);
  std::vector<net::ByteSpan> spans;
  for (const FetchRange& range : ranges) {
    for (uint64_t at = 0; at < range.count; at += piece) {
      spans.push_back({range.first + at, std::min(piece, range.count - at)});
    }
  }
  return spans;
}

// The hashing beside the first fetch: told to stop and waited for however the call ends.
struct HashingThread {
  explicit HashingThread(std::atomic<bool>& stop) : stop(stop) {}
  ~HashingThread() {
    stop = true;
    join();
  }
  void join() {
    if (thread.joinable()) thread.join();
  }
  std::atomic<bool>& stop;
  std::thread thread;
};

Result whole(Result result, std::wstring reason) {
  result.outcome = Outcome::kWhole;
  result.failure = util::failure(FailureKind::kVerification, std::move(reason));
  return result;
}

Result failed(Result result, util::Failure failure) {
  result.outcome = Outcome::kFailed;
  result.failure = std::move(failure);
  return result;
}

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// Inflates every needed entry from the fetched bytes to its staged file, on a few threads. The
// first failure stops the others; the staged files written so far are the caller's to remove.
util::Failure stageEntries(const PackageIndex& index, const std::vector<std::wstring>& targets,
                           const std::vector<FetchRange>& ranges, const char* bytes, const PlaceHooks& hooks) {
  struct Job {
    size_t entry;
    uint64_t at;    // of its local header in the fetched bytes
    uint64_t left;  // fetched bytes from there to the end of its range
  };
  std::vector<Job> jobs;
  uint64_t rangeAt = 0;
  for (const FetchRange& range : ranges) {
    for (size_t i : range.entries) {
      const uint64_t into = index.entries[i].headerOffset - range.first;
      jobs.push_back({i, rangeAt + into, range.count - into});
    }
    rangeAt += range.count;
  }
  std::mutex lock;  // the folders, and the first failure
  util::Failure first;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  const auto work = [&] {
    for (size_t j = next++; j < jobs.size() && !stop; j = next++) {
      const Job& job = jobs[j];
      const std::wstring& target = targets[job.entry];
      util::Failure failure;
      bool made = true;
      {
        std::lock_guard<std::mutex> hold(lock);
        const std::wstring folder = folderOf(target);
        made = hooks.makeFolder ? hooks.makeFolder(folder) : util::createDirectories(folder);
        if (!made) failure = util::failure(FailureKind::kDisk, packages::kFolderNotMade + folder);
      }
      if (made && writeEntry(index.entries[job.entry], bytes + job.at, static_cast<size_t>(job.left),
                             target + kStagedSuffix, failure, hooks.flushStaged)) {
        continue;
      }
      std::lock_guard<std::mutex> hold(lock);
      if (!stop.exchange(true)) first = std::move(failure);
    }
  };
  const size_t threads = std::min<size_t>(jobs.size(), 2);
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return first;
}

// Puts each staged file over its target, in index order; a read-only target is replaced too.
util::Failure placeEntries(const std::vector<std::wstring>& staged, const PlaceHooks& hooks) {
  for (size_t j = 0; j < staged.size(); ++j) {
    const std::wstring target = staged[j].substr(0, staged[j].size() - wcslen(kStagedSuffix));
    bool placed = false;
    if (hooks.placeFile) {
      placed = hooks.placeFile(staged[j], target);
    } else {
      const DWORD attributes = GetFileAttributesW(target.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      }
      placed = util::renameFile(staged[j], target, true);
    }
    if (!placed) {
      const std::wstring reason = lastErrorText();
      for (size_t rest = j; rest < staged.size(); ++rest) util::deleteFileForce(staged[rest]);
      return util::failure(FailureKind::kDisk,
                           packages::kReplaceFailed + target + packages::kReasonOpen + reason + packages::kReasonClose);
    }
  }
  return {};
}

}  // namespace

std::string fetchIndex(const std::wstring& indexUrl, CancelEvent cancel) {
  std::string bytes;
  if (!fetchDocument(indexUrl, kMaxPackageIndexBytes, bytes, cancel).ok()) bytes.clear();
  return bytes;
}

Result fetchChangedEntries(const IndexedPackage& package, const std::wstring& targetDir, const PlaceHooks& hooks,
                           const Progress& progress, CancelEvent cancel) {
  Result result;
  std::string bytes = package.indexBytes;
  if (bytes.empty()) {
    const DownloadResult got = fetchDocument(package.indexUrl, kMaxPackageIndexBytes, bytes, cancel);
    if (got.cancelled()) return failed(result, got.failure);
    if (!got.ok()) return whole(result, packages::kIndexFetchFailed + got.failure.text);
  }
  result.fetched += bytes.size();
  if (sha256Hex(bytes) != package.indexSha256) return whole(result, packages::kIndexDigestMismatch);
  PackageIndex index;
  std::wstring error;
  if (!parsePackageIndex(bytes, index, error)) return whole(result, packages::kIndexUnreadable + error);
  bytes = std::string();

  std::vector<std::wstring> targets;
  if (!entryTargets(index, targetDir, targets, error)) return whole(result, error);
  std::vector<size_t> first, candidates, second;
  entriesBySize(index, targets, first, candidates);

  // The entries that differ for certain come while the files of their size are hashed; the
  // hashing then reports nothing (the fetch does), and stops with a failure or a cancel.
  std::atomic<bool> stopHashing{false};
  bool hashed = true;
  const ByteProgress quiet = [&](uint64_t, uint64_t) { return !stopHashing && !isCancelSignalled(cancel); };
  HashingThread hasher(stopHashing);
  if (!first.empty()) {
    try {
      hasher.thread = std::thread([&] { hashed = entriesThatDiffer(index, targets, candidates, second, quiet); });
    } catch (...) {
      hashed = entriesThatDiffer(index, targets, candidates, second, quiet);
    }
  } else {
    hashed = entriesThatDiffer(index, targets, candidates, second, progress.comparing);
    if (!hashed) return failed(result, util::cancelledFailure());
    if (second.empty()) return result;
  }

  // The probe gives the size that bounds every range and the version they must all come from; a
  // size known already bounds them as well, and the entries' checks tell a replaced zip.
  uint64_t total = package.size;
  std::wstring validator;
  std::wstring url = package.url;
  if (total == 0) {
    HttpConnection probe;
    if (!openHttpConnection(probe, package.url) || !probeRangeSupport(probe, total, &validator)) {
      if (isCancelSignalled(cancel)) return failed(result, util::cancelledFailure());
      return whole(result, packages::kRangesUnsupported);
    }
    url = probe.url;
  }
  // Fetches the entries of one set into file; false with the run's outcome in `ended`.
  Result ended;
  const auto fetchSet = [&](const std::vector<size_t>& set, const std::wstring& file,
                            std::vector<FetchRange>& ranges) {
    if (set.empty()) return true;
    if (!rangesFor(index, set, total, ranges, error)) {
      ended = whole(result, error);
      return false;
    }
    const net::RangeFetchResult fetched =
        net::fetchRanges(url, total, validator, spansOf(ranges), file, progress.fetching, cancel);
    result.fetched += fetched.fetched;
    if (fetched.failure.cancelled()) {
      ended = failed(result, fetched.failure);
    } else if (fetched.failure) {
      ended = whole(result, fetched.rangesIgnored ? std::wstring(packages::kRangesUnsupported) : fetched.failure.text);
    }
    return !fetched.failure;
  };
  const std::wstring secondFile = package.rangesFile + L".2";
  const RemovedAfter removed(package.rangesFile), removedSecond(secondFile);
  std::vector<FetchRange> firstRanges, secondRanges;
  if (!fetchSet(first, package.rangesFile, firstRanges)) return ended;
  hasher.join();
  if (!hashed) return failed(result, util::cancelledFailure());
  if (!fetchSet(second, secondFile, secondRanges)) return ended;

  std::vector<size_t> needed = first;
  needed.insert(needed.end(), second.begin(), second.end());
  std::sort(needed.begin(), needed.end());
  std::vector<std::wstring> staged;
  for (size_t i : needed) staged.push_back(targets[i] + kStagedSuffix);
  util::Failure failure;
  for (const auto& [ranges, file] : {std::make_pair(&firstRanges, &package.rangesFile),
                                     std::make_pair(&secondRanges, &secondFile)}) {
    if (ranges->empty() || failure) continue;
    MappedFile mapped;
    if (!mapped.open(*file)) {
      failure = util::failure(FailureKind::kVerification, packages::kRangesUnreadable + lastErrorText());
    } else {
      failure = stageEntries(index, targets, *ranges, mapped.data(), hooks);
    }
  }
  if (!failure && isCancelSignalled(cancel)) failure = util::cancelledFailure();
  if (failure) {
    for (const std::wstring& path : staged) util::deleteFileForce(path);
    return failure.kind == FailureKind::kVerification ? whole(result, failure.text) : failed(result, failure);
  }
  failure = placeEntries(staged, hooks);
  if (failure) return failed(result, failure);
  result.entries = needed.size();
  return result;
}

}  // namespace delta
