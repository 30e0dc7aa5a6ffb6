// Unpacks a zip package straight into the folder it belongs in: each file is inflated beside its
// final place and moved over it, so no temporary copy of the package is made and no installed file
// is ever half written.
#pragma once

#include "util/failure.h"
#include "util/byte_progress.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// The name a file is inflated under, beside its target, until it is placed.
inline constexpr wchar_t kStagedSuffix[] = L".upg_tmp";

// How folders and finished files are put in place; each fails with the thread's last error set.
struct PlaceHooks {
  // Creates a folder and its missing parents; default util::createDirectories.
  std::function<bool(const std::wstring& folder)> makeFolder;
  // Moves the finished file staged (target + kStagedSuffix) over target; by default the file is
  // renamed over target through the handle that wrote it. A staged file that it fails to place is
  // removed afterwards.
  std::function<bool(const std::wstring& staged, const std::wstring& target)> placeFile;
  // Whether placeFile may run on two threads at once.
  bool concurrent = true;
  // Whether every staged file is forced to disk before extractZipInPlace returns (for a placement
  // that must survive a crash, done later). The disk writes run beside the inflating, after the
  // file has been handed to placeFile; one that fails fails the extraction.
  bool flushStaged = false;
};

// Unpacks zipPath into targetDir. A package wrapped in one top-level folder is unpacked without
// it (as findContentRoot finds it). Database files in the package are skipped: the user's data
// always wins. Every entry name is checked first (isSafeEntryPath) and every folder is made
// before any file is written; large archives are inflated by two threads. progress receives
// (files handled, file entries), skipped ones included; false stops before the next file as a
// cancel. Every other failure is a disk failure whose text says why ("无法读取压缩包：",
// "压缩包含非法路径条目：", "无法创建目录：", "磁盘空间不足，无法解压：", "解压失败：",
// "替换失败："), and no staged file is left; files placed before the failure stay.
[[nodiscard]] bool extractZipInPlace(const std::wstring& zipPath, const std::wstring& targetDir,
                                     const PlaceHooks& hooks, util::Failure* failure,
                                     const ByteProgress& progress);

// Packages unpacking on a thread of their own while the job downloads the next ones. Packages go
// in place in plan order (a later one may replace an earlier one's file), so they unpack one after
// another in the order they were queued, and a download never waits for the unpacking before it.
// After a failure the packages queued behind it are dropped. Each archive is deleted when the
// thread is done with it (or drops it).
class ExtractionThread {
 public:
  ExtractionThread() = default;
  ExtractionThread(const ExtractionThread&) = delete;
  ExtractionThread& operator=(const ExtractionThread&) = delete;
  ~ExtractionThread();

  // Queues a package behind the ones queued before it. The hooks and progress run on the thread.
  void start(const std::wstring& zipPath, const std::wstring& targetDir, const std::wstring& label,
             PlaceHooks hooks, ByteProgress progress);

  // Whether a package is queued or unpacking.
  bool running() const;
  // The label of the package unpacking now (or next); empty when none is.
  std::wstring label() const;
  // Whether a package has failed, without waiting.
  bool failed() const;

  // Waits for the package unpacking now; true when it (and every one before it) went in place,
  // else the first failure's reason.
  bool finishOne(util::Failure& failure);
  // Waits for every queued package, as finishOne, calling unpacking(label) as each one's turn
  // comes (for a status line). The failure is reported once.
  bool finish(util::Failure& failure, const std::function<void(const std::wstring& label)>& unpacking = {});

 private:
  struct Package {
    std::wstring zipPath;
    std::wstring targetDir;
    std::wstring label;
    PlaceHooks hooks;
    ByteProgress progress;
  };
  void work();

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Package> queue_;  // the front one is unpacking
  uint64_t finished_ = 0;      // packages taken off the queue, done or dropped
  bool working_ = false;       // the thread is still taking packages
  bool ok_ = true;
  util::Failure failure_;
  std::thread thread_;
};
