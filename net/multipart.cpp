#include "net/multipart.h"

#include "net/resume.h"
#include "net/sha256.h"
#include "net/single_stream.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/guard.h"
#include "util/handles.h"
#include "util/text.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr unsigned kPartUnitShift = 21;  // one part per 2 MiB
constexpr uint64_t kMinParts = 2;
constexpr uint64_t kMaxParts = 6;  // below the eight connections the session allows
// What one request asks for. A free thread can take over a range only beyond what its holder has
// asked for, so short requests leave more to share at the end. And servers that limit each
// response's rate let a second's worth through at once, headers included: a piece a little under
// 2 MiB fits whole in the allowance of a 2 MB/s limit, where 2 MiB and its headers would wait for
// the next second.
constexpr uint64_t kPieceSize = 2031616;  // 1984 KiB
// A rest shorter than this goes with the piece before it rather than costing a request.
constexpr uint64_t kPieceSlack = 131072;
// Less than this beyond its holder's request is done by the holder before a new request on
// another connection would have got going.
constexpr uint64_t kSplitBound = 4194304;
constexpr int kAttempts = 3;  // failed requests a part may have
constexpr DWORD kFirstRetryDelayMs = 500;
constexpr DWORD kRetryDelayStepMs = 500;
constexpr DWORD kMergeBufferSize = 1048576;

struct PartResult {
  bool ok = false;       // the part file holds the whole part
  std::wstring message;  // the part's last failure text
};

// One part file: bytes [start, end] of the resource.
struct Part {
  size_t index = 0;  // the initial range it was split from; names its file
  uint64_t start = 0;
  uint64_t end = 0;    // inclusive; lowered when a free thread takes over the far half
  uint64_t asked = 0;  // one past the last byte its holder has asked for
  uint64_t have = 0;   // bytes in the part file when its holder takes it
  std::wstring path;
  bool taken = false;   // a thread holds it, or held it
  bool active = false;  // its holder is still fetching it: its rest may be split
  PartResult result;
};

// The parts of one call and who holds which. A holder changes end, asked and active only through
// it; a split appends a part (a deque keeps the others where they are).
class Schedule {
 public:
  Schedule(std::deque<Part> parts, const std::wstring& destPath)
      : parts_(std::move(parts)), destPath_(destPath) {}

  // A part nobody holds, else the far half of the active range with the most left beyond its
  // holder's request; null when there is nothing left to share.
  Part* take() {
    std::lock_guard<std::mutex> guard(lock_);
    for (Part& part : parts_) {
      if (!part.taken) return hold(part);
    }
    Part* widest = nullptr;
    for (Part& part : parts_) {
      if (part.active && (!widest || rest(part) > rest(*widest))) widest = &part;
    }
    uint64_t at = 0;
    if (!widest || !splitPoint(widest->asked, widest->end, at)) return nullptr;
    Part half;
    half.index = widest->index;
    half.start = at;
    half.end = widest->end;
    half.path = splitPartPath(destPath_, half.index, at);
    widest->end = at - 1;
    parts_.push_back(std::move(half));
    return hold(parts_.back());
  }

  // The last byte of the holder's next request, from `from` on; false when the part is done.
  bool nextPiece(Part& part, uint64_t from, uint64_t& to) {
    std::lock_guard<std::mutex> guard(lock_);
    if (from > part.end) {
      part.active = false;
      return false;
    }
    to = pieceEnd(from, part.end);
    part.asked = to + 1;
    return true;
  }

  // The holder has stopped early: nobody fetches the rest of this part in this call.
  void release(Part& part) {
    std::lock_guard<std::mutex> guard(lock_);
    part.active = false;
  }

  // Only once every thread has ended.
  std::deque<Part>& parts() { return parts_; }

 private:
  // What its holder has not asked for yet.
  static uint64_t rest(const Part& part) {
    return part.asked > part.end ? 0 : part.end + 1 - part.asked;
  }

  static Part* hold(Part& part) {
    part.taken = true;
    part.active = true;
    part.asked = part.start + part.have;
    return &part;
  }

  std::mutex lock_;
  std::deque<Part> parts_;
  const std::wstring& destPath_;
};

// Shared by the part threads of one call. Flags only ever go from false to true.
struct MultipartContext {
  MultipartContext(const HttpConnection& connection, const ByteProgress& progress, uint64_t total,
                   const std::wstring& validator, CancelEvent cancelEvent)
      : connection(connection), progress(progress), total(total), validator(validator),
        cancelEvent(cancelEvent) {}

  const HttpConnection& connection;
  std::atomic<bool> abort{false};         // every part stops at its next test
  std::atomic<bool> rangeIgnored{false};  // a part got the whole resource (200)
  std::atomic<bool> cancelled{false};     // several parts may set it at once
  std::atomic<uint64_t> received{0};      // bytes written to part files during this call
  std::mutex progressLock;                // the callback is never entered twice at once
  const ByteProgress& progress;
  uint64_t total;
  // The probe's validator: every part belongs to that version of the resource (empty: none
  // given, and no part of an earlier call is kept).
  const std::wstring& validator;
  CancelEvent cancelEvent;
};

// Only what stays for a later call goes to the disk at once: a completed download is used right
// away (and never trusted by a later run), so forcing it out would only cost the install time.
void flushFile(const std::wstring& path) {
  util::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) FlushFileBuffers(file.get());
}

void flushPartFiles(const std::deque<Part>& parts) {
  for (const Part& part : parts) flushFile(part.path);
}

void deletePartFiles(const std::deque<Part>& parts) {
  for (const Part& part : parts) discardPartial(part.path);
}

// The starts of the part files an earlier call split off range `index`, read from their names;
// files whose start lies outside the range are of another size of the resource and go.
std::vector<uint64_t> splitStartsOnDisk(const std::wstring& destPath, size_t index,
                                        const PartRange& range) {
  const size_t slash = destPath.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : destPath.substr(0, slash);
  const std::wstring name = slash == std::wstring::npos ? destPath : destPath.substr(slash + 1);
  const std::wstring stem = name + L".p" + std::to_wstring(index) + L".";
  std::vector<uint64_t> starts;
  util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const std::wstring entry = data.cFileName;
    // At most 19 digits: no overflow.
    if (entry.size() <= stem.size() || entry.size() > stem.size() + 19 ||
        !util::equalsIgnoringCase(entry.substr(0, stem.size()), stem)) {
      return true;
    }
    uint64_t start = 0;
    for (size_t i = stem.size(); i < entry.size(); ++i) {
      if (entry[i] < L'0' || entry[i] > L'9') return true;  // e.g. its validator
      start = start * 10 + static_cast<uint64_t>(entry[i] - L'0');
    }
    if (start > range.start && start <= range.end) {
      starts.push_back(start);
    } else {
      discardPartial(path);
    }
    return true;
  });
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts;
}

// The parts of this call: each initial range, cut where an earlier call split it, with what its
// part file holds. A part is kept only when it was begun on the version of the resource the probe
// saw; a complete one is never held by a thread.
std::deque<Part> partsToFetch(uint64_t total, const std::wstring& destPath,
                              const std::wstring& validator) {
  std::deque<Part> parts;
  const std::vector<PartRange> ranges = partRanges(total, destPath);
  for (size_t index = 0; index < ranges.size(); ++index) {
    const PartRange& range = ranges[index];
    std::vector<uint64_t> starts = splitStartsOnDisk(destPath, index, range);
    starts.insert(starts.begin(), range.start);
    for (size_t k = 0; k < starts.size(); ++k) {
      Part part;
      part.index = index;
      part.start = starts[k];
      part.end = k + 1 < starts.size() ? starts[k + 1] - 1 : range.end;
      part.path = k == 0 ? range.path : splitPartPath(destPath, index, part.start);
      const uint64_t length = part.end - part.start + 1;
      part.have = existingFileSize(part.path);
      if (part.have > length ||
          (part.have > 0 && (validator.empty() || storedValidator(part.path) != validator))) {
        discardPartial(part.path);
        part.have = 0;
      }
      if (part.have == length) {
        part.taken = true;
        part.result.ok = true;
      }
      parts.push_back(std::move(part));
    }
  }
  return parts;
}

// Receives the body of one 206 answer into the part file until the part file holds `target`
// bytes. Returns true when the server ended the body or the target is reached; false when a
// failure (message set) or a stop (abort set) ended it first.
bool receivePiece(HINTERNET request, HANDLE file, uint64_t& have, uint64_t target,
                  MultipartContext& context, std::vector<char>& buffer, PartResult& result) {
  ReadSizer sizer;
  for (;;) {
    if (context.abort) {
      if (isCancelSignalled(context.cancelEvent)) context.cancelled = true;
      return false;
    }
    if (isCancelSignalled(context.cancelEvent)) {
      context.cancelled = true;
      context.abort = true;
      return false;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      result.message = L"网络中断（" + lastErrorText() + L"）";
      return false;
    }
    if (available == 0) return true;
    const DWORD ask = sizer.next(available, target - have);
    if (buffer.size() < ask) buffer.resize(ask);
    DWORD read = 0;
    const uint64_t started = GetTickCount64();
    const bool gotData = WinHttpReadData(request, buffer.data(), ask, &read) && read > 0;
    sizer.took(GetTickCount64() - started);
    if (!gotData) {
      result.message = L"网络中断（" + lastErrorText() + L"）";
      return false;
    }
    if (read > target - have) read = static_cast<DWORD>(target - have);
    if (isCancelSignalled(context.cancelEvent)) continue;  // noticed at the top of the loop
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written < read) {
      result.message = L"写入磁盘失败（" + lastErrorText() + L"）";
      context.abort = true;
      return false;
    }
    have += written;
    context.received += written;
    std::lock_guard<std::mutex> lock(context.progressLock);
    if (context.progress && !context.progress(context.received.load(), context.total)) {
      context.cancelled = true;
      context.abort = true;
      return false;
    }
    if (have == target) return true;
  }
}

// A 206 answer must cover exactly the bytes asked for, of the resource size the probe saw.
bool rangeMatches(HINTERNET request, uint64_t start, uint64_t end, uint64_t total) {
  ContentRange range;
  return responseContentRange(request, range) && range.start == start && range.end == end &&
         range.total == total;
}

// Opens the part file for writing from `have` on; false with the message set when it cannot be.
bool openPartFile(const Part& part, uint64_t have, util::FileHandle& file, PartResult& result) {
  file.reset(CreateFileW(part.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    result.message = L"无法写入分片：" + part.path + L"（" + lastErrorText() + L"）";
    return false;
  }
  // Held open from here on, the file cannot change under us; before, a transfer abandoned by a
  // cancel may have removed it.
  if (util::fileSize(file.get()) < have) {
    result.message = L"断点文件已被改动，请重试";
    return false;
  }
  LARGE_INTEGER offset = {};
  offset.QuadPart = static_cast<LONGLONG>(have);
  SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN);
  SetEndOfFile(file.get());
  return true;
}

// The requests of one part, each for the next piece of it, until it is done; at most three of
// them may fail (the part file keeps what they brought), and a 206 for other bytes than asked
// starts the part file over once. The part file stays open in `file` between the pieces.
void fetchPart(Part& part, Schedule& schedule, MultipartContext& context, util::FileHandle& file) {
  PartResult& result = part.result;
  uint64_t have = part.have;
  bool restarted = false;
  int failures = 0;
  DWORD delay = kFirstRetryDelayMs;
  std::vector<char> buffer;
  const auto failedAgain = [&] {
    if (++failures == kAttempts) return true;
    Sleep(delay);
    delay += kRetryDelayStepMs;
    return false;
  };
  for (;;) {
    if (context.abort) return;
    const uint64_t from = part.start + have;
    uint64_t to = 0;
    if (!schedule.nextPiece(part, from, to)) {
      result.ok = true;
      result.message.clear();
      return;
    }
    InternetHandle request = openGetRequest(context.connection);
    if (!request) {
      result.message = L"创建请求失败（" + lastErrorText() + L"）";
      context.abort = true;
      return;
    }
    if (!sendRequest(request.get(), rangeHeaders(from, to, context.validator))) {
      result.message = L"连接服务器失败（" + lastErrorText() + L"）";
      request.reset();
      if (isCancelSignalled(context.cancelEvent)) {
        context.cancelled = true;
        context.abort = true;
        return;
      }
      if (failedAgain()) return;
      continue;
    }
    const DWORD status = responseStatus(request.get());
    // 416, or a 206 for other bytes than asked: the part file starts over at once (the range was
    // ours to get wrong, or the server's, not the network's), but only once.
    const bool wrongRange = status == HTTP_STATUS_PARTIAL_CONTENT &&
                            !rangeMatches(request.get(), from, to, context.total);
    if (status == kStatusRangeNotSatisfiable || wrongRange) {
      file.reset();
      discardPartial(part.path);
      have = 0;
      if (restarted) {
        result.message = wrongRange ? std::wstring(L"服务器返回的数据范围与请求不符")
                                    : L"分片请求异常状态码：" + std::to_wstring(status);
        context.abort = true;
        return;
      }
      restarted = true;
      continue;
    }
    if (status == HTTP_STATUS_OK) {
      // The server sends the whole resource whatever we ask, or the resource changed since the
      // probe: parts are pointless.
      context.rangeIgnored = true;
      context.abort = true;
      return;
    }
    if (status != HTTP_STATUS_PARTIAL_CONTENT) {
      result.message = L"分片请求异常状态码：" + std::to_wstring(status);
      context.abort = true;
      return;
    }

    if (!file) {
      if (have == 0) storeValidator(part.path, context.validator);
      if (!openPartFile(part, have, file, result)) {
        context.abort = true;
        return;
      }
    }
    const uint64_t target = to - part.start + 1;
    const bool atEnd = receivePiece(request.get(), file.get(), have, target, context, buffer, result);
    request.reset();
    if (context.abort) return;
    if (!atEnd || have < target) {
      if (atEnd) result.message = L"分片数据不完整";
      if (failedAgain()) return;
    }
  }
}

// The body of one part thread: parts one after another, as the schedule hands them out, until
// nothing is left to share, the call stops, or a part fails (the others go on; the call fails).
// A part that throws fails with the exception's text and stops the others.
void runPartThread(Schedule& schedule, MultipartContext& context) {
  while (!context.abort) {
    Part* part = schedule.take();
    if (!part) return;
    util::guarded(
        [&] {
          util::FileHandle file;
          fetchPart(*part, schedule, context, file);
        },
        [&](const char* what) {
          part->result.ok = false;
          part->result.message = internalErrorText(what);
          context.abort = true;
        });
    schedule.release(*part);
    if (!part->result.ok) return;
  }
}

// Copies the part files in byte order into the merged file and hashes what it writes; false with
// the message set when the merge stopped early. The byte count is checked by the caller.
bool copyParts(HANDLE merged, const std::deque<Part>& parts, Sha256& hash, uint64_t& written,
               std::wstring& message) {
  std::vector<char> buffer(kMergeBufferSize);
  for (const Part& part : parts) {
    util::FileHandle file(CreateFileW(part.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      message = L"读取分片失败：" + part.path;
      return false;
    }
    for (;;) {
      // A failed read ends this part quietly; the size check catches the loss.
      DWORD got = 0;
      if (!ReadFile(file.get(), buffer.data(), kMergeBufferSize, &got, nullptr) || got == 0) break;
      DWORD put = 0;
      if (!WriteFile(merged, buffer.data(), got, &put, nullptr) || put < got) {
        message = L"合并写入失败（" + lastErrorText() + L"）";
        return false;
      }
      hash.add(buffer.data(), put);
      written += put;
    }
  }
  return true;
}

DownloadResult mergeParts(std::deque<Part>& parts, uint64_t total, const std::wstring& destPath,
                          const std::wstring& validator) {
  DownloadResult result;
  std::sort(parts.begin(), parts.end(),
            [](const Part& a, const Part& b) { return a.start < b.start; });
  Sha256 hash;
  if (!hash.begin()) {
    result.message = kHashSetUpFailedText;
    return result;
  }
  const std::wstring mergedPath = partialPath(destPath);
  util::FileHandle merged(CreateFileW(mergedPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!merged) {
    result.message = L"无法创建合并文件：" + mergedPath + L"（" + lastErrorText() + L"）";
    return result;
  }
  uint64_t written = 0;
  const bool copied = copyParts(merged.get(), parts, hash, written, result.message);
  // On every failure below the part files stay, so the next call resumes from them.
  if (!copied) {
    merged.reset();
    util::deleteFileForce(mergedPath);
    flushPartFiles(parts);
    return result;
  }
  if (written != total) {
    result.message = L"合并后大小异常（" + std::to_wstring(written) + L" ≠ " +
                     std::to_wstring(total) + L"）";
    merged.reset();
    util::deleteFileForce(mergedPath);
    flushPartFiles(parts);
    return result;
  }
  merged.reset();
  deletePartFiles(parts);
  // The complete merged file is the single stream's partial file: the next call resumes it.
  storeValidator(mergedPath, validator);
  if (!MoveFileExW(mergedPath.c_str(), destPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    result.message = L"下载文件改名失败（" + lastErrorText() + L"）";
    flushFile(mergedPath);
    return result;
  }
  discardPartial(mergedPath);  // only the validator is left
  result.ok = true;
  result.sha256 = hash.finish();
  return result;
}

}  // namespace

std::vector<PartRange> partRanges(uint64_t total, const std::wstring& destPath) {
  const uint64_t count = std::clamp(total >> kPartUnitShift, kMinParts, kMaxParts);
  const uint64_t size = total / count;
  std::vector<PartRange> ranges;
  for (uint64_t i = 0; i < count; ++i) {
    PartRange range;
    range.start = i * size;
    range.end = i + 1 == count ? total - 1 : (i + 1) * size - 1;
    range.path = destPath + L".p" + std::to_wstring(i);
    ranges.push_back(std::move(range));
  }
  return ranges;
}

std::wstring splitPartPath(const std::wstring& destPath, size_t index, uint64_t start) {
  return destPath + L".p" + std::to_wstring(index) + L"." + std::to_wstring(start);
}

uint64_t pieceEnd(uint64_t from, uint64_t end) {
  return end - from < kPieceSize + kPieceSlack ? end : from + kPieceSize - 1;
}

bool splitPoint(uint64_t asked, uint64_t end, uint64_t& at) {
  if (asked > end || end - asked + 1 <= kSplitBound) return false;
  at = asked + (end - asked + 1) / 2;
  return true;
}

DownloadResult downloadMultipart(const HttpConnection& connection, uint64_t total,
                                 const std::wstring& validator, const std::wstring& destPath,
                                 const ByteProgress& progress, CancelEvent cancelEvent) {
  const size_t threadCount = partRanges(total, destPath).size();
  Schedule schedule(partsToFetch(total, destPath, validator), destPath);
  MultipartContext context(connection, progress, total, validator, cancelEvent);

  std::vector<std::thread> threads(threadCount);
  for (std::thread& thread : threads) {
    try {
      thread = std::thread(runPartThread, std::ref(schedule), std::ref(context));
    } catch (...) {
      // Fewer threads share the parts; with none, nothing would ever fetch them.
      if (&thread == &threads.front()) {
        DownloadResult result;
        result.message = L"分片下载失败：分片线程创建失败（已保留分片断点，可重试）";
        return result;
      }
      break;
    }
  }
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }

  std::deque<Part>& parts = schedule.parts();
  DownloadResult result;
  if (context.cancelled) {
    deletePartFiles(parts);
    result.cancelled = true;
    result.message = kCancelledText;
    return result;
  }
  if (context.rangeIgnored) {
    deletePartFiles(parts);
    return downloadSingleStream(connection, destPath, progress, cancelEvent);
  }
  // The part that failed says why; parts it stopped on the way have nothing to say.
  const PartResult* failed = nullptr;
  for (const Part& part : parts) {
    if (!part.result.ok &&
        (!failed || (failed->message.empty() && !part.result.message.empty()))) {
      failed = &part.result;
    }
  }
  if (failed) {
    flushPartFiles(parts);
    result.message = L"分片下载失败：" + (failed->message.empty() ? L"未知错误" : failed->message) +
                     L"（已保留分片断点，可重试）";
    return result;
  }
  return mergeParts(parts, total, destPath, validator);
}
