// A large resource from a range-honouring server in two to six byte ranges at once, one thread
// and one part file (destPath + ".p" + i) per range, each resuming and retrying on its own, then
// merged into destPath + ".part", hashed on the way, and renamed into place.
#pragma once

#include "net/download.h"
#include "net/http_connection.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Resources of this size or more are fetched in parts (when the server honours ranges).
constexpr uint64_t kMultipartThreshold = 8388608;

struct PartRange {
  uint64_t start = 0;
  uint64_t end = 0;  // inclusive
  std::wstring path;  // the part file
};

struct PartResult {
  bool ok = false;       // the part file holds the whole range
  std::wstring message;  // the part's last failure text
};

// Shared by the part threads of one call. Flags only ever go from false to true.
struct MultipartContext {
  MultipartContext(const HttpConnection& connection, const ByteProgress& progress, uint64_t total,
                   const std::wstring& validator, CancelEvent cancelEvent,
                   std::atomic<bool>& cancelled)
      : connection(connection), progress(progress), total(total), validator(validator),
        cancelEvent(cancelEvent), cancelled(cancelled) {}

  const HttpConnection& connection;
  std::atomic<bool> abort{false};         // every part stops at its next test
  std::atomic<bool> rangeIgnored{false};  // a part got the whole resource (200)
  std::atomic<uint64_t> received{0};      // bytes written to part files during this call
  std::mutex progressLock;                // the callback is never entered twice at once
  const ByteProgress& progress;
  uint64_t total;
  // The probe's validator: every part belongs to that version of the resource (empty: none
  // given, and no part of an earlier call is kept).
  const std::wstring& validator;
  CancelEvent cancelEvent;
  // The coordinating thread's flag; parts only set it, and several may do so at once.
  std::atomic<bool>& cancelled;
};

// One range per 2 MiB of the total, at least two and at most six; the last range takes the
// remainder and ends at total - 1.
std::vector<PartRange> partRanges(uint64_t total, const std::wstring& destPath);

// Blocks until every part has ended and the merge is done. total and validator are the probe's.
DownloadResult downloadMultipart(const HttpConnection& connection, uint64_t total,
                                 const std::wstring& validator, const std::wstring& destPath,
                                 const ByteProgress& progress, CancelEvent cancelEvent);

// The body of one part thread: at most three attempts, resuming from the part file; a 206 for
// other bytes than asked starts the part over once.
void downloadPart(uint64_t start, uint64_t end, const std::wstring& path, MultipartContext& context,
                  PartResult& result);
