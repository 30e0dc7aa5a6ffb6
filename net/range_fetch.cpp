#include "net/range_fetch.h"

#include "net/http_connection.h"
#include "net/resume.h"
#include "net/texts.h"
#include "util/error_text.h"
#include "util/files.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace net {
namespace {

// What one request for a span came to.
enum class SpanEnd { kDone, kCut, kFailed };

class RangeRun {
 public:
  RangeRun(const std::wstring& url, uint64_t total, const std::wstring& validator,
           const std::vector<ByteSpan>& spans, HANDLE file, const ByteProgress& progress, CancelEvent cancel)
      : url_(url), total_(total), validator_(validator), spans_(spans), file_(file), progress_(progress),
        cancel_(cancel) {
    uint64_t at = 0;
    for (const ByteSpan& span : spans_) {
      offsets_.push_back(at);
      at += span.count;
    }
    wanted_ = at;
  }

  RangeFetchResult run() {
    const size_t threads = std::min(kMaxRangeConnections, spans_.size());
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) {
      try {
        pool.emplace_back([this] { work(); });
      } catch (...) {
        break;  // fewer connections, the same spans
      }
    }
    work();
    for (std::thread& thread : pool) thread.join();
    result_.fetched = fetched_;
    return result_;
  }

 private:
  bool stopped() const { return stop_ || isCancelSignalled(cancel_); }

  // The first failure wins; the other threads end at their next read.
  void fail(util::Failure failure, bool rangesIgnored = false) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!stop_) {
      result_.failure = std::move(failure);
      result_.rangesIgnored = rangesIgnored;
    }
    stop_ = true;
  }

  void work() {
    HttpConnection connection;
    if (!openHttpConnection(connection, url_)) {
      fail(util::failure(util::FailureKind::kNetwork, withReason(kInitFailed, lastErrorText())));
      return;
    }
    for (size_t k = next_++; k < spans_.size() && !stopped(); k = next_++) {
      // A transfer cut short is asked again once, on a fresh request.
      std::wstring cut;
      SpanEnd end = fetchSpan(connection, k, cut);
      if (end == SpanEnd::kCut && !stopped()) end = fetchSpan(connection, k, cut);
      if (end == SpanEnd::kCut) fail(util::failure(util::FailureKind::kNetwork, cut));
      if (end != SpanEnd::kDone) break;
    }
    if (isCancelSignalled(cancel_)) fail(util::cancelledFailure());
  }

  // kCut with its reason in `cut` when the transfer broke off.
  SpanEnd fetchSpan(HttpConnection& connection, size_t k, std::wstring& cut) {
    const ByteSpan& span = spans_[k];
    InternetHandle request;
    if (!sendFollowingRedirects(connection, request, rangeHeaders(span.first, span.first + span.count - 1, validator_),
                                cut)) {
      return SpanEnd::kCut;
    }
    const DWORD status = responseStatus(request.get());
    if (status == HTTP_STATUS_OK) {
      fail(util::failure(util::FailureKind::kNetwork, kWrongRange), true);
      return SpanEnd::kFailed;
    }
    ContentRange range;
    if (status != HTTP_STATUS_PARTIAL_CONTENT) {
      fail(util::failure(util::FailureKind::kNetwork, kPartBadStatus + std::to_wstring(status)));
      return SpanEnd::kFailed;
    }
    if (!responseContentRange(request.get(), range) || range.start != span.first ||
        range.end != span.first + span.count - 1 || range.total != total_) {
      fail(util::failure(util::FailureKind::kNetwork, kWrongRange));
      return SpanEnd::kFailed;
    }

    uint64_t got = 0;
    bool writeFailed = false;
    BodyHooks hooks;
    hooks.stop = [this] { return stopped(); };
    hooks.left = [&] { return span.count - got; };
    hooks.take = [&](const char* data, DWORD size) {
      OVERLAPPED at{};
      const uint64_t offset = offsets_[k] + got;
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD wrote = 0;
      if (!WriteFile(file_, data, size, &wrote, &at) || wrote != size) {
        writeFailed = true;
        return false;
      }
      got += size;
      return report(size);
    };
    const BodyEnd end = readBody(request.get(), buffer_(), hooks);
    if (writeFailed) {
      fail(util::failure(util::FailureKind::kDisk, withReason(kDiskWriteFailed, lastErrorText())));
      return SpanEnd::kFailed;
    }
    if (stopped()) return SpanEnd::kFailed;
    // More bytes than the range holds are never asked for (left), so the body is judged by its end.
    if (end == BodyEnd::kEnded && got == span.count) return SpanEnd::kDone;
    cut = end == BodyEnd::kFailed ? withReason(kInterrupted, lastErrorText()) : std::wstring(kPartIncomplete);
    return SpanEnd::kCut;
  }

  bool report(uint64_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    fetched_ += bytes;
    if (progress_ && !stop_ && !progress_(fetched_, wanted_)) {
      result_.failure = util::cancelledFailure();
      stop_ = true;
    }
    return !stop_;
  }

  // Each thread reads into a buffer of its own.
  static std::vector<char>& buffer_() {
    thread_local std::vector<char> buffer;
    return buffer;
  }

  const std::wstring& url_;
  const uint64_t total_;
  const std::wstring& validator_;
  const std::vector<ByteSpan>& spans_;
  std::vector<uint64_t> offsets_;  // of each span in the file
  uint64_t wanted_ = 0;
  HANDLE file_;
  const ByteProgress& progress_;
  CancelEvent cancel_;
  std::atomic<size_t> next_{0};
  std::mutex lock_;  // the result, the count and the progress
  std::atomic<bool> stop_{false};
  uint64_t fetched_ = 0;
  RangeFetchResult result_;
};

}  // namespace

RangeFetchResult fetchRanges(const std::wstring& url, uint64_t total, const std::wstring& validator,
                             const std::vector<ByteSpan>& spans, const std::wstring& outPath,
                             const ByteProgress& progress, CancelEvent cancelEvent) {
  RangeFetchResult result;
  {
    util::FileHandle file(CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file) {
      result.failure = util::failure(util::FailureKind::kDisk,
                                     kCannotWriteFile + outPath + kReasonOpen + lastErrorText() + kReasonClose);
      return result;
    }
    if (!spans.empty()) result = RangeRun(url, total, validator, spans, file.get(), progress, cancelEvent).run();
  }
  if (result.failure) util::deleteFileForce(outPath);
  return result;
}

}  // namespace net
