#include "packages/delta.h"

#include "net/sha256.h"
#include "packages/crc32.h"
#include "packages/texts.h"
#include "packages/zip_extract.h"
#include "util/database_files.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/text.h"

#include <miniz.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace delta {
namespace {

std::wstring entryName(const PackageIndexEntry& entry) { return util::toWide(util::kCodePageUtf8, entry.path); }

uint16_t read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const unsigned char* p) { return read16(p) | (static_cast<uint32_t>(read16(p + 2)) << 16); }

// The first piece of an entry name, and what follows it (extraction splits at either separator).
std::string firstPiece(const std::string& name, std::string& rest) {
  const size_t cut = name.find_first_of("/\\");
  rest = cut == std::string::npos ? std::string() : name.substr(cut + 1);
  return name.substr(0, cut);
}

// The folder every entry lies below, with its separator, or empty. The index lists files only, so a
// file at the top level means the package is not wrapped.
std::string wrappingFolder(const PackageIndex& index) {
  std::string root, rest;
  for (const PackageIndexEntry& e : index.entries) {
    const std::string first = firstPiece(e.path, rest);
    if (rest.empty()) return {};
    if (root.empty()) root = first;
    if (!util::equalsIgnoringCase(util::toWide(util::kCodePageUtf8, first), util::toWide(util::kCodePageUtf8, root)))
      return {};
  }
  return root.empty() ? root : root + "/";
}

// Whether the file at target has the entry's size; missing and unreadable files have not.
bool hasSize(const std::wstring& target, uint64_t size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  return ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == size;
}

// Hashes the candidates on a few threads; differs[i] is set for each whose digest is not its
// entry's (or cannot be computed). False when progress stopped it.
bool hashCandidates(const PackageIndex& index, const std::vector<std::wstring>& targets,
                    const std::vector<size_t>& candidates, std::vector<char>& differs, const ByteProgress& progress) {
  uint64_t total = 0;
  for (size_t i : candidates) total += index.entries[i].size;
  // The threads report one at a time, so that the caller's progress needs no lock of its own.
  std::mutex reporting;
  uint64_t hashedBytes = 0;
  std::atomic<bool> stopped{false};
  const auto report = [&](uint64_t moreBytes) {
    std::lock_guard<std::mutex> hold(reporting);
    hashedBytes += moreBytes;
    if (!stopped && progress && !progress(hashedBytes, total)) stopped = true;
    return !stopped;
  };
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t at = next++; at < candidates.size() && !stopped; at = next++) {
      const size_t i = candidates[at];
      uint64_t reported = 0;
      const ByteProgress fileProgress = [&](uint64_t done, uint64_t) {
        const uint64_t more = done - reported;
        reported = done;
        return report(more);
      };
      std::string digest;
      const bool hashed = sha256File(targets[i], digest, nullptr, fileProgress);
      differs[i] = !hashed || digest != index.entries[i].sha256;
    }
  };
  // Hashing is bound by the disk as much as by the processor: a few threads keep both busy.
  const size_t threads = std::min<size_t>(candidates.size(), std::max(2u, std::min(4u, std::thread::hardware_concurrency())));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return !stopped;
}

// Where the entry's bytes end at the least (no extra field) and at the most (the margin for one);
// false when that overflows.
bool entrySpan(const PackageIndexEntry& e, uint64_t& least, uint64_t& most) {
  const uint64_t header = kLocalHeaderFixedBytes + e.path.size();
  const uint64_t reach = header + kExtraFieldMargin;
  if (e.headerOffset > UINT64_MAX - reach || e.compressedSize > UINT64_MAX - reach - e.headerOffset) return false;
  least = e.headerOffset + header + e.compressedSize;
  most = e.headerOffset + reach + e.compressedSize;
  return true;
}

// Receives the inflated content: bounded by the entry's size, hashed and written as it comes.
class ContentSink {
 public:
  ContentSink(const PackageIndexEntry& entry, HANDLE file) : entry_(entry), file_(file) {}
  [[nodiscard]] bool begin() { return sha_.begin(); }
  // False when the content overruns its size or the write fails (overran() tells which).
  [[nodiscard]] bool add(const void* data, size_t count) {
    if (count > entry_.size - written_) {
      overran_ = true;
      return false;
    }
    crc_ = packages::crc32(crc_, data, count);
    sha_.add(data, count);
    written_ += count;
    // Stored content comes in one piece of any size; WriteFile takes 32-bit counts.
    const auto* at = static_cast<const char*>(data);
    for (size_t done = 0; done < count;) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1 << 20));
      DWORD wrote = 0;
      if (!WriteFile(file_, at + done, chunk, &wrote, nullptr) || wrote != chunk) return false;
      done += chunk;
    }
    return true;
  }
  bool overran() const { return overran_; }
  uint64_t written() const { return written_; }
  uint32_t crc() const { return crc_; }
  std::string digest() { return sha_.finish(); }

 private:
  const PackageIndexEntry& entry_;
  HANDLE file_;
  Sha256 sha_;
  uint32_t crc_ = 0;
  uint64_t written_ = 0;
  bool overran_ = false;
};

// Raw deflate from data into sink, through a 32 KiB dictionary window; true when the stream ends
// within data.
bool inflateInto(const unsigned char* data, size_t count, ContentSink& sink, bool& writeFailed) {
  auto inflater = std::make_unique<tinfl_decompressor>();
  tinfl_init(inflater.get());
  std::vector<unsigned char> window(TINFL_LZ_DICT_SIZE);
  size_t in = 0, outAt = 0;
  for (;;) {
    size_t inBytes = count - in, outBytes = window.size() - outAt;
    const tinfl_status status = tinfl_decompress(inflater.get(), data + in, &inBytes, window.data(),
                                                 window.data() + outAt, &outBytes, 0);
    in += inBytes;
    if (outBytes && !sink.add(window.data() + outAt, outBytes)) {
      writeFailed = !sink.overran();
      return false;
    }
    outAt = (outAt + outBytes) & (TINFL_LZ_DICT_SIZE - 1);
    if (status == TINFL_STATUS_DONE) return true;
    if (status != TINFL_STATUS_HAS_MORE_OUTPUT) return false;  // truncated or corrupt
  }
}

}  // namespace

bool entryTargets(const PackageIndex& index, const std::wstring& installDir, std::vector<std::wstring>& targets,
                  std::wstring& failureText) {
  targets.clear();
  const std::string wrap = wrappingFolder(index);
  for (const PackageIndexEntry& e : index.entries) {
    const std::wstring name = entryName(e);
    if (!isSafeEntryPath(name) || name.empty() || name.back() == L'/' || name.back() == L'\\') {
      failureText = packages::kUnsafeEntry + name;
      targets.clear();
      return false;
    }
    std::wstring rel = util::toWide(util::kCodePageUtf8, e.path.substr(wrap.size()));
    std::replace(rel.begin(), rel.end(), L'/', L'\\');
    targets.push_back(isDatabaseFile(rel) ? std::wstring() : installDir + L"\\" + rel);
  }
  return true;
}

void entriesBySize(const PackageIndex& index, const std::vector<std::wstring>& targets, std::vector<size_t>& differ,
                   std::vector<size_t>& sameSize) {
  differ.clear();
  sameSize.clear();
  for (size_t i = 0; i < targets.size(); ++i) {
    if (targets[i].empty()) continue;
    (hasSize(targets[i], index.entries[i].size) ? sameSize : differ).push_back(i);
  }
}

bool entriesThatDiffer(const PackageIndex& index, const std::vector<std::wstring>& targets,
                       const std::vector<size_t>& candidates, std::vector<size_t>& differing, const ByteProgress& progress) {
  differing.clear();
  std::vector<char> differs(targets.size(), 0);
  if (!hashCandidates(index, targets, candidates, differs, progress)) return false;
  for (size_t i = 0; i < differs.size(); ++i) {
    if (differs[i]) differing.push_back(i);
  }
  return true;
}

bool entriesNeeded(const PackageIndex& index, const std::wstring& installDir, std::vector<size_t>& needed,
                   util::Failure* failure, const ByteProgress& progress) {
  needed.clear();
  std::vector<std::wstring> targets;
  std::wstring failureText;
  if (!entryTargets(index, installDir, targets, failureText)) {
    if (failure) *failure = util::failure(util::FailureKind::kVerification, failureText);
    return false;
  }
  std::vector<size_t> differ, candidates, differing;
  entriesBySize(index, targets, differ, candidates);
  if (!entriesThatDiffer(index, targets, candidates, differing, progress)) {
    if (failure) *failure = util::cancelledFailure();
    return false;
  }
  needed = differ;
  needed.insert(needed.end(), differing.begin(), differing.end());
  std::sort(needed.begin(), needed.end());
  return true;
}

bool rangesFor(const PackageIndex& index, const std::vector<size_t>& needed, uint64_t packageSize,
               std::vector<FetchRange>& ranges, std::wstring& failureText) {
  ranges.clear();
  // Every entry's header, in offset order, bounds the span of the entry before it.
  std::vector<uint64_t> headers;
  for (const PackageIndexEntry& e : index.entries) headers.push_back(e.headerOffset);
  std::sort(headers.begin(), headers.end());
  const bool shared = std::adjacent_find(headers.begin(), headers.end()) != headers.end();
  std::vector<size_t> order = needed;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return index.entries[a].headerOffset < index.entries[b].headerOffset;
  });
  for (size_t i : order) {
    const PackageIndexEntry& e = index.entries[i];
    uint64_t least = 0, end = 0;
    const auto after = std::upper_bound(headers.begin(), headers.end(), e.headerOffset);
    const uint64_t limit = after == headers.end() ? packageSize : std::min(*after, packageSize);
    // Two entries at one offset would make the coalescing below go backwards; no zip has them.
    if (shared || !entrySpan(e, least, end) || least > limit) {
      failureText = packages::kIndexBadRange + entryName(e);
      ranges.clear();
      return false;
    }
    end = std::min(end, limit);
    if (!ranges.empty() && e.headerOffset - (ranges.back().first + ranges.back().count) < kCoalesceGapBytes) {
      ranges.back().count = end - ranges.back().first;
    } else {
      ranges.push_back({e.headerOffset, end - e.headerOffset, {}});
    }
    ranges.back().entries.push_back(i);
  }
  return true;
}

bool writeEntry(const PackageIndexEntry& entry, const char* bytes, size_t count, const std::wstring& outPath,
                util::Failure& failure, bool flush) {
  const std::wstring name = entryName(entry);
  const auto fail = [&](util::FailureKind kind, const wchar_t* text) {
    failure = util::failure(kind, text + name);
    return false;
  };
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  if (count < kLocalHeaderFixedBytes) return fail(util::FailureKind::kVerification, packages::kDeltaTruncated);
  const uint64_t nameBytes = read16(p + 26), extraBytes = read16(p + 28);
  const uint64_t dataAt = kLocalHeaderFixedBytes + nameBytes + extraBytes;
  if (read32(p) != 0x04034b50u || read16(p + 8) != entry.method || (entry.method != 0 && entry.method != 8) ||
      nameBytes != entry.path.size() || std::string(bytes + 30, std::min<size_t>(count - 30, nameBytes)) != entry.path)
    return fail(util::FailureKind::kVerification, packages::kDeltaHeaderBad);
  if (extraBytes > kExtraFieldMargin || dataAt + entry.compressedSize > count)
    return fail(util::FailureKind::kVerification, packages::kDeltaTruncated);
  if (entry.method == 0 && entry.compressedSize != entry.size)
    return fail(util::FailureKind::kVerification, packages::kDeltaSizeMismatch);

  bool ok = false;
  {
    util::FileHandle file(CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      failure = util::failure(util::FailureKind::kDisk, packages::kDeltaWriteFailed + outPath + L"（" +
                                                            lastErrorText() + packages::kReasonClose);
      return false;
    }
    ContentSink sink(entry, file.get());
    if (!sink.begin()) {
      failure = util::failure(util::FailureKind::kInternal, kHashSetUpFailedText);
    } else {
      bool writeFailed = false;
      const unsigned char* data = p + dataAt;
      const bool inflated = entry.method == 0 ? sink.add(data, entry.compressedSize)
                                              : inflateInto(data, entry.compressedSize, sink, writeFailed);
      if (entry.method == 0) writeFailed = !inflated && !sink.overran();
      if (writeFailed) {
        fail(util::FailureKind::kDisk, packages::kDeltaWriteFailed);
      } else if (sink.overran() || (inflated && sink.written() != entry.size)) {
        fail(util::FailureKind::kVerification, packages::kDeltaSizeMismatch);
      } else if (!inflated) {
        fail(util::FailureKind::kVerification, packages::kDeltaInflateFailed);
      } else if (sink.crc() != entry.crc32) {
        fail(util::FailureKind::kVerification, packages::kDeltaCrcMismatch);
      } else if (sink.digest() != entry.sha256) {
        fail(util::FailureKind::kVerification, packages::kDeltaHashMismatch);
      } else if (flush && !FlushFileBuffers(file.get())) {
        fail(util::FailureKind::kDisk, packages::kDeltaWriteFailed);
      } else {
        ok = true;
      }
    }
  }
  if (!ok) util::deleteFileForce(outPath);
  return ok;
}

}  // namespace delta
