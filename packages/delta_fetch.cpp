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
#include "util/paths.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace delta {
namespace {

using util::FailureKind;

struct MappingTraits {
  using Type = HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { CloseHandle(h); }
};

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
  util::UniqueHandle<MappingTraits> mapping_;
  const char* view_ = nullptr;
};

// The ranges' file in the temporary folder, removed however the call ends.
class TemporaryFile {
 public:
  TemporaryFile() {
    static std::atomic<unsigned> serial{0};
    path_ = util::tempDirectory() + L"\\QVSetup_ranges_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(serial++);
  }
  ~TemporaryFile() { util::deleteFileForce(path_); }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
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
      placed = MoveFileExW(staged[j].c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
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

Result fetchChangedEntries(const IndexedPackage& package, const std::wstring& targetDir, const PlaceHooks& hooks,
                           const Progress& progress, CancelEvent cancel) {
  Result result;
  std::string bytes;
  const DownloadResult got = fetchDocument(package.indexUrl, kMaxPackageIndexBytes, bytes, cancel);
  if (got.cancelled()) return failed(result, got.failure);
  if (!got.ok()) return whole(result, packages::kIndexFetchFailed + got.failure.text);
  result.fetched += bytes.size();
  if (sha256Hex(bytes) != package.indexSha256) return whole(result, packages::kIndexDigestMismatch);
  PackageIndex index;
  std::wstring error;
  if (!parsePackageIndex(bytes, index, error)) return whole(result, packages::kIndexUnreadable + error);
  bytes = std::string();

  std::vector<std::wstring> targets;
  if (!entryTargets(index, targetDir, targets, error)) return whole(result, error);
  std::vector<size_t> needed;
  util::Failure failure;
  if (!entriesNeeded(index, targetDir, needed, &failure, progress.comparing)) {
    return failure.cancelled() ? failed(result, failure) : whole(result, failure.text);
  }
  if (needed.empty()) return result;

  // The probe gives the size that bounds every range and the version they must all come from.
  uint64_t total = 0;
  std::wstring validator;
  std::wstring url;
  {
    HttpConnection probe;
    if (!openHttpConnection(probe, package.url) || !probeRangeSupport(probe, total, &validator)) {
      if (isCancelSignalled(cancel)) return failed(result, util::cancelledFailure());
      return whole(result, packages::kRangesUnsupported);
    }
    url = probe.url;
  }
  std::vector<FetchRange> ranges;
  if (!rangesFor(index, needed, total, ranges, error)) return whole(result, error);
  std::vector<net::ByteSpan> spans;
  for (const FetchRange& range : ranges) spans.push_back({range.first, range.count});

  TemporaryFile fetchedFile;
  const net::RangeFetchResult fetched =
      net::fetchRanges(url, total, validator, spans, fetchedFile.path(), progress.fetching, cancel);
  result.fetched += fetched.fetched;
  if (fetched.failure.cancelled()) return failed(result, fetched.failure);
  if (fetched.failure) {
    return whole(result, fetched.rangesIgnored ? std::wstring(packages::kRangesUnsupported) : fetched.failure.text);
  }

  std::vector<std::wstring> staged;
  for (size_t i : needed) staged.push_back(targets[i] + kStagedSuffix);
  {
    MappedFile mapped;
    if (!mapped.open(fetchedFile.path())) return whole(result, packages::kRangesUnreadable + lastErrorText());
    failure = stageEntries(index, targets, ranges, mapped.data(), hooks);
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
