#include "net/multipart.h"

#include "net/resume.h"
#include "net/sha256.h"
#include "net/single_stream.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/guard.h"
#include "util/handles.h"

#include <windows.h>

#include <algorithm>
#include <thread>

namespace {

constexpr unsigned kPartUnitShift = 21;  // one part per 2 MiB
constexpr uint64_t kMinParts = 2;
constexpr uint64_t kMaxParts = 6;  // below the eight connections the session allows
constexpr DWORD kFirstRetryDelayMs = 500;
constexpr DWORD kRetryDelayStepMs = 500;
constexpr DWORD kRetryDelayLimitMs = 2000;  // three attempts: 500, 1000, 1500 ms waits
constexpr DWORD kMergeBufferSize = 1048576;

void deletePartFiles(const std::vector<PartRange>& ranges) {
  for (const PartRange& range : ranges) discardPartial(range.path);
}

// Receives the body of one 206 answer into the part file, never past the end of the range.
// Returns true when the server ended the body or the range is full; false when a failure
// (message set) or a stop (abort set) ended it first.
bool receivePart(HINTERNET request, HANDLE file, uint64_t& have, uint64_t length,
                 MultipartContext& context, PartResult& result) {
  std::vector<char> buffer;
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
    buffer.assign(available, 0);
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data(), available, &read) || read == 0) {
      result.message = L"网络中断（" + lastErrorText() + L"）";
      return false;
    }
    if (read > length - have) read = static_cast<DWORD>(length - have);
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
    if (have == length) return true;
  }
}

// A 206 answer must cover exactly the bytes asked for, of the resource size the probe saw.
bool rangeMatches(HINTERNET request, uint64_t start, uint64_t end, uint64_t total) {
  ContentRange range;
  return responseContentRange(request, range) && range.start == start && range.end == end &&
         range.total == total;
}

// Copies the part files in order into the merged file and hashes what it writes; false with the
// message set when the merge stopped early. The byte count is checked by the caller.
bool copyParts(HANDLE merged, const std::vector<PartRange>& ranges, Sha256& hash,
               uint64_t& written, std::wstring& message) {
  std::vector<char> buffer(kMergeBufferSize);
  for (const PartRange& range : ranges) {
    util::FileHandle part(CreateFileW(range.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!part) {
      message = L"读取分片失败：" + range.path;
      return false;
    }
    for (;;) {
      // A failed read ends this part quietly; the size check catches the loss.
      DWORD got = 0;
      if (!ReadFile(part.get(), buffer.data(), kMergeBufferSize, &got, nullptr) || got == 0) break;
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

DownloadResult mergeParts(const std::vector<PartRange>& ranges, uint64_t total,
                          const std::wstring& destPath, const std::wstring& validator) {
  DownloadResult result;
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
  const bool copied = copyParts(merged.get(), ranges, hash, written, result.message);
  FlushFileBuffers(merged.get());
  merged.reset();
  // On every failure below the part files stay, so the next call resumes from them.
  if (!copied) {
    util::deleteFileForce(mergedPath);
    return result;
  }
  if (written != total) {
    result.message = L"合并后大小异常（" + std::to_wstring(written) + L" ≠ " +
                     std::to_wstring(total) + L"）";
    util::deleteFileForce(mergedPath);
    return result;
  }
  deletePartFiles(ranges);
  // The complete merged file is the single stream's partial file: the next call resumes it.
  storeValidator(mergedPath, validator);
  if (!MoveFileExW(mergedPath.c_str(), destPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    result.message = L"下载文件改名失败（" + lastErrorText() + L"）";
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

void downloadPart(uint64_t start, uint64_t end, const std::wstring& path, MultipartContext& context,
                  PartResult& result) {
  const uint64_t length = end - start + 1;
  uint64_t have = existingFileSize(path);
  // A part is kept only when it was begun on the version of the resource the probe saw.
  if (have > length || (have > 0 && (context.validator.empty() ||
                                     storedValidator(path) != context.validator))) {
    discardPartial(path);
    have = 0;
  }
  if (have == length) {
    result.ok = true;
    return;
  }

  bool restarted = false;
  for (DWORD delay = kFirstRetryDelayMs; delay < kRetryDelayLimitMs; delay += kRetryDelayStepMs) {
    if (context.abort) return;
    InternetHandle request = openGetRequest(context.connection);
    if (!request) {
      result.message = L"创建请求失败（" + lastErrorText() + L"）";
      context.abort = true;
      return;
    }
    if (!sendRequest(request.get(), rangeHeaders(start + have, end, context.validator))) {
      result.message = L"连接服务器失败（" + lastErrorText() + L"）";
      request.reset();
      if (isCancelSignalled(context.cancelEvent)) {
        context.cancelled = true;
        context.abort = true;
        return;
      }
      Sleep(delay);
      continue;
    }
    const DWORD status = responseStatus(request.get());
    // 416, or a 206 for other bytes than asked: the part file starts over at once (the range was
    // ours to get wrong, or the server's, not the network's), but only once.
    const bool wrongRange = status == HTTP_STATUS_PARTIAL_CONTENT &&
                            !rangeMatches(request.get(), start + have, end, context.total);
    if (status == kStatusRangeNotSatisfiable || wrongRange) {
      discardPartial(path);
      have = 0;
      if (restarted) {
        result.message = wrongRange ? std::wstring(L"服务器返回的数据范围与请求不符")
                                    : L"分片请求异常状态码：" + std::to_wstring(status);
        context.abort = true;
        return;
      }
      restarted = true;
      delay -= kRetryDelayStepMs;  // not an attempt of its own
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

    if (have == 0) storeValidator(path, context.validator);
    util::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      result.message = L"无法写入分片：" + path + L"（" + lastErrorText() + L"）";
      context.abort = true;
      return;
    }
    if (util::fileSize(file.get()) < have) {
      result.message = L"断点文件已被改动，请重试";
      context.abort = true;
      return;
    }
    LARGE_INTEGER offset = {};
    offset.QuadPart = static_cast<LONGLONG>(have);
    SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN);
    SetEndOfFile(file.get());
    const bool atEnd = receivePart(request.get(), file.get(), have, length, context, result);
    FlushFileBuffers(file.get());
    file.reset();
    request.reset();

    if (context.abort) return;
    if (atEnd && have == length) {
      result.ok = true;
      return;
    }
    result.message = L"分片数据不完整";
    Sleep(delay);
  }
}

namespace {

// A part that throws fails with the exception's text and stops the others, as a failed part does.
void runPart(const PartRange& range, MultipartContext& context, PartResult& result) {
  util::guarded([&] { downloadPart(range.start, range.end, range.path, context, result); },
                [&](const char* what) {
                  result.ok = false;
                  result.message = internalErrorText(what);
                  context.abort = true;
                });
}

}  // namespace

DownloadResult downloadMultipart(const HttpConnection& connection, uint64_t total,
                                 const std::wstring& validator, const std::wstring& destPath,
                                 const ByteProgress& progress, CancelEvent cancelEvent) {
  const std::vector<PartRange> ranges = partRanges(total, destPath);
  std::vector<PartResult> results(ranges.size());
  std::atomic<bool> cancelled{false};
  MultipartContext context(connection, progress, total, validator, cancelEvent, cancelled);

  std::vector<std::thread> threads(ranges.size());
  for (size_t i = 0; i < ranges.size(); ++i) {
    try {
      threads[i] = std::thread(runPart, std::cref(ranges[i]), std::ref(context), std::ref(results[i]));
    } catch (...) {
      // The parts already running see the abort and stop; the rest start and end at once.
      results[i].message = L"分片线程创建失败";
      context.abort = true;
    }
  }
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }

  DownloadResult result;
  if (cancelled) {
    deletePartFiles(ranges);
    result.cancelled = true;
    result.message = kCancelledText;
    return result;
  }
  if (context.rangeIgnored) {
    deletePartFiles(ranges);
    return downloadSingleStream(connection, destPath, progress, cancelEvent);
  }
  // The part that failed says why; parts it stopped on the way have nothing to say.
  const PartResult* failed = nullptr;
  for (const PartResult& part : results) {
    if (!part.ok && (!failed || (failed->message.empty() && !part.message.empty()))) failed = &part;
  }
  if (failed) {
    result.message = L"分片下载失败：" + (failed->message.empty() ? L"未知错误" : failed->message) +
                     L"（已保留分片断点，可重试）";
    return result;
  }
  return mergeParts(ranges, total, destPath, validator);
}
