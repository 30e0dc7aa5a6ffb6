#include "packages/zip_place.h"

#include "packages/texts.h"
#include "packages/zip_extract.h"
#include "packages/zip_reader.h"
#include "util/database_files.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace zip_internal;

namespace {

// Below this much content a second thread costs more than it saves.
constexpr uint64_t kParallelBytes = 8u << 20;

// Waits until ready() holds, looking again now and then even without a wake-up. Under Wine on a
// loaded machine a job was once seen waiting here for ever with no unpacking thread left, as a
// lost wake-up would leave it; looking again costs nothing.
template <class Ready>
void waitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& hold, Ready ready) {
  while (!changed.wait_for(hold, std::chrono::milliseconds(200), ready)) {
  }
}

struct FileEntry {
  mz_uint index = 0;
  std::wstring name;    // as stored, for the failure texts
  std::wstring target;  // full path
  uint64_t size = 0;    // declared
};

// What the archive will write, worked out from its central directory before anything is.
struct Layout {
  std::vector<std::wstring> folders;  // parents before children
  std::vector<FileEntry> files;
  uint64_t fileEntries = 0;  // the database files that are skipped included
};

std::wstring firstPiece(const std::wstring& name, std::wstring& rest) {
  const size_t cut = name.find_first_of(L"/\\");
  rest = cut == std::wstring::npos ? std::wstring() : name.substr(cut + 1);
  return name.substr(0, cut);
}

bool readLayout(mz_zip_archive* zip, const std::wstring& targetDir, Layout& layout, std::wstring& failure) {
  std::vector<EntryInfo> entries;
  if (!readEntries(zip, entries, failure)) return false;

  // A package wrapped in one top-level folder: every entry lies below it or is the folder itself.
  std::wstring root, rest;
  bool wrapped = !entries.empty();
  for (const EntryInfo& e : entries) {
    const std::wstring first = firstPiece(e.name, rest);
    if (root.empty()) root = first;
    if (!util::equalsIgnoringCase(first, root) || (rest.empty() && !e.folder)) wrapped = false;
  }

  std::set<std::wstring> known;
  const auto addFolder = [&](const std::wstring& folder) {
    if (known.insert(util::normalizePathKey(folder)).second) layout.folders.push_back(folder);
  };
  addFolder(targetDir);
  for (const EntryInfo& entry : entries) {
    std::wstring rel = entry.name;
    if (wrapped) firstPiece(entry.name, rel);
    for (wchar_t& c : rel) {
      if (c == L'/') c = L'\\';
    }
    if (!rel.empty() && rel.back() == L'\\') rel.pop_back();
    if (rel.empty()) continue;  // the wrapping folder itself
    const std::wstring target = targetDir + L"\\" + rel;
    if (entry.folder) {
      addFolder(target);
      continue;
    }
    ++layout.fileEntries;
    if (isDatabaseFile(rel)) continue;
    addFolder(target.substr(0, target.rfind(L'\\')));
    layout.files.push_back({entry.index, entry.name, target, entry.size});
  }
  return true;
}

// Forces finished files to disk on threads of their own, so that the disk writes one file while
// the next is inflated; each file's handle is closed once its data is there.
class Flusher {
 public:
  Flusher() = default;
  Flusher(const Flusher&) = delete;
  Flusher& operator=(const Flusher&) = delete;
  ~Flusher() {
    std::wstring ignored;
    (void)finish(ignored);
  }

  void add(util::FileHandle file, const std::wstring& name) {
    std::lock_guard<std::mutex> hold(lock_);
    queue_.push_back({std::move(file), name});
    if (threads_.size() < kFlushThreads && threads_.size() < queue_.size() + busy_) {
      try {
        threads_.emplace_back(&Flusher::work, this);
      } catch (...) {
        if (threads_.empty()) flushHere();  // no thread at all: this one waits for the disk
      }
    }
    changed_.notify_one();
  }

  // Waits for every file added; false with the name of the first that could not be forced out
  // and the reason.
  bool finish(std::wstring& failedName) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      closing_ = true;
      changed_.notify_all();
    }
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    flushHere();
    failedName = failedName_;
    return failedName_.empty();
  }

 private:
  static constexpr size_t kFlushThreads = 4;  // they wait on the disk, not on a core

  struct Item {
    util::FileHandle file;
    std::wstring name;
  };

  void work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      waitUntil(changed_, hold, [&] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      Item item = std::move(queue_.front());
      queue_.pop_front();
      ++busy_;
      hold.unlock();
      const bool flushed = FlushFileBuffers(item.file.get()) != FALSE;
      const std::wstring reason = flushed ? std::wstring() : lastErrorText();
      item.file.reset();
      hold.lock();
      --busy_;
      if (!flushed && failedName_.empty()) failedName_ = item.name + packages::kReasonOpen + reason + packages::kReasonClose;
    }
  }

  // Whatever no thread took (called with no thread left, or while holding the lock with none).
  void flushHere() {
    for (Item& item : queue_) {
      if (!FlushFileBuffers(item.file.get()) && failedName_.empty()) {
        failedName_ = item.name + packages::kReasonOpen + lastErrorText() + packages::kReasonClose;
      }
    }
    queue_.clear();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  std::vector<std::thread> threads_;
  size_t busy_ = 0;
  bool closing_ = false;
  std::wstring failedName_;
};

// The file entries handed out to the threads, and what they share.
class Extraction {
 public:
  Extraction(const std::wstring& zipPath, const PlaceHooks& hooks, const ByteProgress& progress, uint64_t done,
             uint64_t total)
      : zipPath_(zipPath), hooks_(hooks), progress_(progress), done_(done), total_(total) {}

  // One thread's share, in archive order; every thread reads through an archive handle of its own.
  void run(const std::vector<const FileEntry*>& files) {
    util::FileHandle archive(CreateFileW(zipPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ZipReader reader;
    if (!archive || !reader.open(archive.get())) return fail(packages::kZipUnreadable + zipPath_);
    std::vector<char> buffer(kWriteBufferBytes);
    for (const FileEntry* file : files) {
      if (stop_) return;
      mz_zip_archive_file_stat stat;
      if (!mz_zip_reader_file_stat(reader.get(), file->index, &stat)) return fail(packages::kExtractFailed + file->name);
      const std::wstring staged = file->target + kStagedSuffix;
      // Without a hook of its own, the file is moved in place by the handle that wrote it.
      const bool placeNow = !hooks_.placeFile;
      util::FileHandle written;
      const EntryResult result =
          extractEntryToFile(reader.get(), file->index, stat, staged, buffer, placeNow ? &file->target : nullptr,
                             hooks_.flushStaged ? &written : nullptr);
      if (result != EntryResult::kDone && result != EntryResult::kNotPlaced) {
        (void)util::deleteFileForce(staged);
        if (result == EntryResult::kDamaged) return fail(damagedEntryText(file->name));
        return fail(packages::kExtractFailed + file->name + (result == EntryResult::kOverran ? packages::kOverran : L""));
      }
      if (result == EntryResult::kNotPlaced || (!placeNow && !place(staged, file->target))) {
        const std::wstring reason = lastErrorText();
        written.reset();
        (void)util::deleteFileForce(staged);
        return fail(packages::kReplaceFailed + file->name + packages::kReasonOpen + reason + packages::kReasonClose);
      }
      if (written) flusher_.add(std::move(written), file->name);
      if (!countOne()) return;
    }
  }

  // Once every thread has ended: waits for the files still being forced to disk.
  void finishFlushing() {
    std::wstring name;
    if (!flusher_.finish(name)) fail(packages::kExtractFailed + name);
  }

  bool failed() const { return stop_; }
  const util::Failure& failure() const { return failure_; }

  // The counters before the first file: the skipped ones are handled already.
  bool start() {
    std::lock_guard<std::mutex> hold(lock_);
    if (progress_ && !progress_(done_, total_)) {
      stop_ = true;
      failure_ = util::cancelledFailure();
    }
    return !stop_;
  }

 private:
  bool place(const std::wstring& staged, const std::wstring& target) {
    if (hooks_.concurrent) return hooks_.placeFile(staged, target);
    std::lock_guard<std::mutex> hold(placeLock_);
    return hooks_.placeFile(staged, target);
  }

  bool countOne() {
    std::lock_guard<std::mutex> hold(lock_);
    ++done_;
    if (!stop_ && progress_ && !progress_(done_, total_)) {
      stop_ = true;
      failure_ = util::cancelledFailure();
    }
    return !stop_;
  }

  void fail(const std::wstring& text) {
    std::lock_guard<std::mutex> hold(lock_);
    if (stop_) return;  // the first failure is the one reported
    stop_ = true;
    failure_ = util::failure(util::FailureKind::kDisk, text);
  }

  const std::wstring& zipPath_;
  const PlaceHooks& hooks_;
  const ByteProgress& progress_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;       // the failure and the progress callback
  std::mutex placeLock_;  // placeFile, when it must not run twice at once
  util::Failure failure_;
  uint64_t done_;
  uint64_t total_;
  Flusher flusher_;
};

// The files split between the threads by size, each share keeping archive order; one share for
// small archives. Inflating is the work: placing files one at a time still lets two inflate.
std::vector<std::vector<const FileEntry*>> shares(const std::vector<FileEntry>& files) {
  uint64_t bytes = 0;
  for (const FileEntry& f : files) bytes += f.size;
  const size_t count = bytes >= kParallelBytes && files.size() > 1 && std::thread::hardware_concurrency() > 1 ? 2 : 1;
  std::vector<std::vector<const FileEntry*>> result(count);
  std::vector<uint64_t> load(count, 0);
  for (const FileEntry& f : files) {
    const size_t lightest = count == 2 && load[1] < load[0] ? 1 : 0;
    result[lightest].push_back(&f);
    load[lightest] += f.size;
  }
  return result;
}

}  // namespace

bool extractZipInPlace(const std::wstring& zipPath, const std::wstring& targetDir, const PlaceHooks& hooks,
                       util::Failure* failure, const ByteProgress& progress) {
  const auto failWith = [&](util::Failure what) {
    if (failure) *failure = std::move(what);
    return false;
  };
  const auto diskFailure = [](std::wstring text) { return util::failure(util::FailureKind::kDisk, std::move(text)); };
  Layout layout;
  {
    util::FileHandle archive(CreateFileW(zipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ZipReader reader;
    if (!archive || !reader.open(archive.get())) return failWith(diskFailure(packages::kZipUnreadable + zipPath));
    std::wstring reason;
    if (!readLayout(reader.get(), targetDir, layout, reason)) return failWith(diskFailure(reason));
  }
  for (const std::wstring& folder : layout.folders) {
    const bool made = hooks.makeFolder ? hooks.makeFolder(folder) : util::createDirectories(folder);
    if (!made) return failWith(diskFailure(packages::kFolderNotMade + folder));
  }
  // Declared sizes are counted against the free space up front, so that a package too large for
  // the disk stops before its first file instead of at a full disk.
  uint64_t spaceLeft = freeBytesAt(targetDir);
  for (const FileEntry& file : layout.files) {
    if (file.size > spaceLeft) return failWith(diskFailure(packages::kDiskFull + file.name));
    spaceLeft -= file.size;
  }

  Extraction extraction(zipPath, hooks, progress, layout.fileEntries - layout.files.size(), layout.fileEntries);
  if (extraction.start()) {
    const auto work = shares(layout.files);
    std::thread second;
    if (work.size() > 1) second = std::thread([&] { extraction.run(work[1]); });
    extraction.run(work[0]);
    if (second.joinable()) second.join();
  }
  extraction.finishFlushing();
  return extraction.failed() ? failWith(extraction.failure()) : true;
}

ExtractionThread::~ExtractionThread() {
  util::Failure ignored;
  (void)finish(ignored);
}

void ExtractionThread::start(const std::wstring& zipPath, const std::wstring& targetDir, const std::wstring& label,
                             PlaceHooks hooks, ByteProgress progress) {
  std::unique_lock<std::mutex> hold(lock_);
  queue_.push_back({zipPath, targetDir, label, std::move(hooks), std::move(progress)});
  if (working_) return;
  // The thread of an earlier batch has taken its last package and only ends.
  hold.unlock();
  if (thread_.joinable()) thread_.join();
  hold.lock();
  try {
    thread_ = std::thread(&ExtractionThread::work, this);
  } catch (...) {
    // No thread to wait for: the package was never taken, and the caller learns why.
    queue_.pop_back();
    throw;
  }
  working_ = true;
}

void ExtractionThread::work() {
  for (;;) {
    Package* package = nullptr;
    bool skip = false;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (queue_.empty()) {
        working_ = false;
        changed_.notify_all();
        return;
      }
      package = &queue_.front();  // stays put while others are queued behind it
      skip = !ok_;
    }
    bool ok = true;
    util::Failure failure;
    if (!skip) {
      try {
        ok = extractZipInPlace(package->zipPath, package->targetDir, package->hooks, &failure, package->progress);
      } catch (const std::exception& e) {
        // Reported as the disk failures of the extraction are: a cause of its own would give an
        // unattended install another exit code than it has always had.
        ok = false;
        failure = util::failure(util::FailureKind::kDisk, internalErrorText(e.what()));
      }
    }
    util::deleteFileForce(package->zipPath);
    std::lock_guard<std::mutex> hold(lock_);
    if (!ok && ok_) {
      ok_ = false;
      failure_ = failure;
    }
    queue_.pop_front();
    ++finished_;
    changed_.notify_all();
  }
}

bool ExtractionThread::running() const {
  std::lock_guard<std::mutex> hold(lock_);
  return !queue_.empty();
}

std::wstring ExtractionThread::label() const {
  std::lock_guard<std::mutex> hold(lock_);
  return queue_.empty() ? std::wstring() : queue_.front().label;
}

bool ExtractionThread::failed() const {
  std::lock_guard<std::mutex> hold(lock_);
  return !ok_;
}

bool ExtractionThread::finishOne(util::Failure& failure) {
  std::unique_lock<std::mutex> hold(lock_);
  const uint64_t awaited = finished_ + (queue_.empty() ? 0 : 1);
  waitUntil(changed_, hold, [&] { return finished_ >= awaited; });
  if (ok_) return true;
  failure = failure_;
  return false;
}

bool ExtractionThread::finish(util::Failure& failure, const std::function<void(const std::wstring& label)>& unpacking) {
  for (bool ok = true; unpacking && ok && running();) {
    const std::wstring now = label();
    if (!now.empty()) unpacking(now);
    ok = finishOne(failure);
  }
  {
    std::unique_lock<std::mutex> hold(lock_);
    waitUntil(changed_, hold, [&] { return !working_; });
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> hold(lock_);
  if (ok_) return true;
  failure = failure_;
  ok_ = true;  // reported: a later batch starts afresh
  failure_ = util::Failure();
  return false;
}
