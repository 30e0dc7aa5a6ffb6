#include "net/multipart.h"

#include "net/resume.h"
#include "net/sha256.h"
#include "net/single_stream.h"
#include "net/texts.h"
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
// What one request asks for. Each request idles its connection for a round trip before its first
// byte, which on a link limited per connection is lost for good: 4 MiB at 2 MB/s loses 2% to a
// 40 ms round trip. A free thread can take over a range only beyond what its holder has asked
// for, so longer requests would leave less to share at the end.
constexpr uint64_t kPieceSize = 4194304;
// A rest shorter than this goes with the piece before it rather than costing a request.
constexpr uint64_t kPieceSlack = 131072;
// Less than this beyond its holder's request is done by the holder before the taker's half would
// have come: a take-over costs the taker a new connection and a request, two round trips, and half
// of 1 MiB takes 250 ms at 2 MB/s, about three round trips of 80 ms.
constexpr uint64_t kSplitBound = 1048576;
constexpr int kAttempts = 3;  // failed requests a part may have
constexpr DWORD kFirstRetryDelayMs = 500;
constexpr DWORD kRetryDelayStepMs = 500;
// A state file longer than this was not written by us.
constexpr size_t kMaxStateBytes = 65536;

struct PartResult {
  bool ok = false;       // the data file holds the whole part
  std::wstring message;  // the part's last failure text
};

// Bytes [start, end] of the resource, written at their own offsets in the data file.
struct Part {
  uint64_t start = 0;
  uint64_t end = 0;    // inclusive; lowered when a free thread takes over the far half
  uint64_t asked = 0;  // one past the last byte its holder has asked for
  uint64_t have = 0;   // bytes from start on that the data file holds; grows as they arrive
  bool taken = false;   // a thread holds it, or held it
  bool active = false;  // its holder is still fetching it: its rest may be split
  PartResult result;
};

// The parts of one call and who holds which. A holder changes end, asked and active only through
// it; a split appends a part (a deque keeps the others where they are).
class Schedule {
 public:
  explicit Schedule(std::deque<Part> parts) : parts_(std::move(parts)) {}

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
    half.start = at;
    half.end = widest->end;
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
};

// One address of the resource that parts may be fetched from. The first is the probed one; the
// others are mirrors that told the same size and honour ranges.
struct PartSource {
  PartSource(const HttpConnection& connection, std::wstring validator)
      : connection(connection), validator(std::move(validator)) {}

  const HttpConnection& connection;
  // Its own version's validator: a mirror's ETag says nothing about the first source's.
  std::wstring validator;
  std::atomic<bool> givenUp{false};  // a part kept failing on it: no thread starts on it again
};

// Shared by the part threads of one call. Flags only ever go from false to true.
struct MultipartContext {
  MultipartContext(std::deque<PartSource>& sources, const ByteProgress& progress, uint64_t total,
                   const std::wstring& dataPath, CancelEvent cancelEvent)
      : sources(sources), progress(progress), total(total), dataPath(dataPath), cancelEvent(cancelEvent) {}

  // The next source after `from` (in turn) that is not given up, having given `from` up; false
  // when `from` is the last one left, which is then kept: the part fails as on a single source.
  bool giveUp(size_t& from) {
    for (size_t step = 1; step < sources.size(); ++step) {
      const size_t next = (from + step) % sources.size();
      if (!sources[next].givenUp) {
        sources[from].givenUp = true;
        from = next;
        return true;
      }
    }
    return false;
  }

  std::deque<PartSource>& sources;
  std::atomic<bool> abort{false};         // every part stops at its next test
  std::atomic<bool> rangeIgnored{false};  // a part got the whole resource (200)
  std::atomic<bool> cancelled{false};     // several parts may set it at once
  std::atomic<uint64_t> received{0};      // bytes written to the data file during this call
  std::mutex progressLock;                // the callback is never entered twice at once
  const ByteProgress& progress;
  uint64_t total;
  const std::wstring& dataPath;
  CancelEvent cancelEvent;
};

// Only what stays for a later call goes to the disk at once: a completed download is used right
// away (and never trusted by a later run), so forcing it out would only cost the install time.
void flushFile(const std::wstring& path) {
  util::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) FlushFileBuffers(file.get());
}

// The parts of this call: those an earlier call left in the state file when they belong to the
// version of the resource the probe saw and the data file still holds what they claim; else the
// initial ranges, and whatever an earlier call left goes. A complete part is never held by a
// thread.
std::deque<Part> partsToFetch(uint64_t total, const std::wstring& destPath, const std::wstring& validator) {
  std::deque<Part> parts;
  std::vector<PartState> kept;
  const std::wstring dataPath = partsDataPath(destPath);
  if (!validator.empty() && storedValidator(dataPath) == validator &&
      readPartsState(destPath, total, kept)) {
    const uint64_t size = existingFileSize(dataPath);
    for (const PartState& state : kept) {
      if (state.start + state.have > size) {
        kept.clear();
        break;
      }
    }
  }
  if (kept.empty()) {
    // Whatever an earlier call left is worthless without its state: the data file starts empty.
    (void)util::deleteFileForce(partsStatePath(destPath));
    util::FileHandle emptied(CreateFileW(dataPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    for (const PartRange& range : partRanges(total)) kept.push_back({range.start, range.end, 0});
  }
  for (const PartState& state : kept) {
    Part part;
    part.start = state.start;
    part.end = state.end;
    part.have = state.have;
    if (part.have == part.end - part.start + 1) {
      part.taken = true;
      part.result.ok = true;
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

// Leaves the parts for the next call: the data on the disk first, then what it holds.
void keepParts(const std::deque<Part>& parts, const std::wstring& destPath, uint64_t total) {
  flushFile(partsDataPath(destPath));
  std::vector<PartState> states;
  for (const Part& part : parts) states.push_back({part.start, part.end, part.have});
  std::sort(states.begin(), states.end(),
            [](const PartState& a, const PartState& b) { return a.start < b.start; });
  if (!writePartsState(destPath, total, states)) (void)util::deleteFileForce(partsStatePath(destPath));
}

// Receives the body of one 206 answer into the data file until the part holds `target`
// bytes. Returns true when the server ended the body or the target is reached; false when a
// failure (message set) or a stop (abort set) ended it first.
bool receivePiece(HINTERNET request, HANDLE file, uint64_t& have, uint64_t target,
                  MultipartContext& context, std::vector<char>& buffer, PartResult& result) {
  // A cancel stops every part; so does a failure of any part (abort).
  const auto stopForCancel = [&context] {
    if (!isCancelSignalled(context.cancelEvent)) return false;
    context.cancelled = true;
    context.abort = true;
    return true;
  };
  BodyHooks hooks;
  hooks.stop = [&] { return stopForCancel() || context.abort; };
  hooks.left = [&] { return target - have; };
  hooks.take = [&](const char* data, DWORD size) {
    if (stopForCancel()) return false;
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr) || written < size) {
      result.message = net::withReason(net::kDiskWriteFailed, lastErrorText());
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
    return true;
  };
  switch (readBody(request, buffer, hooks)) {
    case BodyEnd::kEnded: return true;
    case BodyEnd::kStopped: return false;
    case BodyEnd::kFailed: break;
  }
  result.message = net::withReason(net::kInterrupted, lastErrorText());
  return false;
}

// A 206 answer must cover exactly the bytes asked for, of the resource size the probe saw.
bool rangeMatches(HINTERNET request, uint64_t start, uint64_t end, uint64_t total) {
  ContentRange range;
  return responseContentRange(request, range) && range.start == start && range.end == end &&
         range.total == total;
}

// Opens the data file for writing at the part's byte `have`; false with the message set when it
// cannot be. Every part thread has a handle of its own, so that each writes on from its own place.
bool openDataFile(const Part& part, const std::wstring& dataPath, util::FileHandle& file, PartResult& result) {
  const uint64_t have = part.have;
  file.reset(CreateFileW(dataPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    result.message = net::withReason(net::kCannotWritePart + dataPath, lastErrorText());
    return false;
  }
  // A transfer abandoned by a cancel may have removed the file the kept bytes were in.
  if (have > 0 && util::fileSize(file.get()) < part.start + have) {
    result.message = net::kPartialChanged;
    return false;
  }
  LARGE_INTEGER offset = {};
  offset.QuadPart = static_cast<LONGLONG>(part.start + have);
  if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) {
    result.message = net::withReason(net::kCannotWritePart + dataPath, lastErrorText());
    return false;
  }
  return true;
}

// The requests of one part, each for the next piece of it, until it is done; at most three of
// them may fail (the data file keeps what they brought), each followed by a longer wait, and a
// 416 costs an attempt without one; a 206 for other bytes than asked starts the part over once.
// The requests go to `source`; when its attempts are spent, or it answers 400 or more, the thread
// goes on from the next source not given up, with its attempts anew, while there is one. The
// data file stays open in `file` between the pieces.
void fetchPart(Part& part, Schedule& schedule, MultipartContext& context, util::FileHandle& file, size_t& source) {
  PartResult& result = part.result;
  uint64_t& have = part.have;  // read by the schedule's owner only after this thread has ended
  bool restarted = false;
  int failures = 0;
  DWORD delay = kFirstRetryDelayMs;
  std::vector<char> buffer;
  // True when the part gives up. The wait ends early for a cancel, which then stops every part.
  const auto failedAgain = [&] {
    bool cancelledMeanwhile = false;
    if (context.cancelEvent) {
      cancelledMeanwhile = WaitForSingleObject(context.cancelEvent, delay) == WAIT_OBJECT_0;
    } else {
      Sleep(delay);
    }
    delay += kRetryDelayStepMs;
    if (cancelledMeanwhile) {
      context.cancelled = true;
      context.abort = true;
      return true;
    }
    if (++failures < kAttempts) return false;
    // A source that keeps failing is given up for another, which starts with a clean slate.
    if (!context.giveUp(source)) return true;
    failures = 0;
    delay = kFirstRetryDelayMs;
    return false;
  };
  for (;;) {
    if (context.abort) return;
    if (context.sources[source].givenUp) (void)context.giveUp(source);
    const PartSource& current = context.sources[source];
    const uint64_t from = part.start + have;
    uint64_t to = 0;
    if (!schedule.nextPiece(part, from, to)) {
      result.ok = true;
      result.message.clear();
      return;
    }
    InternetHandle request = openGetRequest(current.connection);
    if (!request) {
      result.message = net::withReason(net::kRequestFailed, lastErrorText());
      context.abort = true;
      return;
    }
    if (!sendRequest(request.get(), rangeHeaders(from, to, current.validator))) {
      result.message = net::withReason(net::kConnectFailed, lastErrorText());
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
    // 416: what the part kept does not fit the resource; it starts over at once, the range being
    // ours to get wrong, not the network's, and that costs an attempt.
    if (status == kStatusRangeNotSatisfiable) {
      file.reset();
      have = 0;
      if (++failures == kAttempts) {
        result.message = net::kPartBadStatus + std::to_wstring(status);
        return;
      }
      continue;
    }
    // A 206 for other bytes than asked: the server's mistake; the part starts over once.
    if (status == HTTP_STATUS_PARTIAL_CONTENT && !rangeMatches(request.get(), from, to, context.total)) {
      file.reset();
      have = 0;
      if (restarted) {
        result.message = net::kWrongRange;
        context.abort = true;
        return;
      }
      restarted = true;
      continue;
    }
    // A mirror that answers with an error, or with the whole file (it has stopped honouring
    // ranges, or holds another version now), is given up while another source is left.
    if (source != 0 && (status == HTTP_STATUS_OK || status >= HTTP_STATUS_BAD_REQUEST) && context.giveUp(source)) {
      failures = 0;
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
      if (status >= HTTP_STATUS_BAD_REQUEST && context.giveUp(source)) {
        failures = 0;
        continue;
      }
      result.message = net::kPartBadStatus + std::to_wstring(status);
      context.abort = true;
      return;
    }

    if (!file) {
      if (!openDataFile(part, context.dataPath, file, result)) {
        context.abort = true;
        return;
      }
    }
    const uint64_t target = to - part.start + 1;
    const bool atEnd = receivePiece(request.get(), file.get(), have, target, context, buffer, result);
    request.reset();
    if (context.abort) return;
    if (!atEnd || have < target) {
      if (atEnd) result.message = net::kPartIncomplete;
      if (failedAgain()) return;
    }
  }
}

// The body of one part thread: parts one after another, as the schedule hands them out, until
// nothing is left to share, the call stops, or a part fails (the others go on; the call fails).
// A part that throws fails with the exception's text and stops the others.
void runPartThread(Schedule& schedule, MultipartContext& context, size_t source) {
  while (!context.abort) {
    Part* part = schedule.take();
    if (!part) return;
    util::guarded(
        [&] {
          util::FileHandle file;
          fetchPart(*part, schedule, context, file, source);
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

// Hashes the complete data file; false with the message set when it holds other than `total`
// bytes or cannot be read.
bool hashDataFile(const std::wstring& dataPath, uint64_t total, std::string& digest, std::wstring& message) {
  const uint64_t size = existingFileSize(dataPath);
  if (size != total) {
    message = net::withReason(net::kMergedSizeWrong, std::to_wstring(size) + net::kNotEqual + std::to_wstring(total));
    return false;
  }
  util::Failure failure;
  if (sha256File(dataPath, digest, &failure, {})) return true;
  message = failure.kind == util::FailureKind::kInternal ? failure.text : net::kPartReadFailed + dataPath;
  return false;
}

// Every part has arrived: the data file is checked, hashed and renamed into place.
DownloadResult finishParts(const std::deque<Part>& parts, uint64_t total, const std::wstring& destPath) {
  DownloadResult result;
  const std::wstring dataPath = partsDataPath(destPath);
  std::wstring message;
  if (!hashDataFile(dataPath, total, result.sha256, message)) {
    // Bytes that are not what the parts say: nothing of it is worth resuming.
    discardParts(destPath);
    return downloadFailed(std::move(message));
  }
  if (!MoveFileExW(dataPath.c_str(), destPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DownloadResult failed = downloadFailed(net::withReason(net::kRenameFailed, lastErrorText()));
    keepParts(parts, destPath, total);  // complete: the next call only renames it
    return failed;
  }
  discardParts(destPath);  // only the validator and a stale state are left
  return result;
}

}  // namespace

std::vector<PartRange> partRanges(uint64_t total) {
  const uint64_t count = std::clamp(total >> kPartUnitShift, kMinParts, kMaxParts);
  const uint64_t size = total / count;
  std::vector<PartRange> ranges;
  for (uint64_t i = 0; i < count; ++i) {
    PartRange range;
    range.start = i * size;
    range.end = i + 1 == count ? total - 1 : (i + 1) * size - 1;
    ranges.push_back(std::move(range));
  }
  return ranges;
}

std::wstring partsDataPath(const std::wstring& destPath) { return destPath + L".parts"; }

std::wstring partsStatePath(const std::wstring& destPath) { return destPath + L".parts.state"; }

void discardParts(const std::wstring& destPath) {
  discardPartial(partsDataPath(destPath));
  (void)util::deleteFileForce(partsStatePath(destPath));
}

bool readPartsState(const std::wstring& destPath, uint64_t total, std::vector<PartState>& parts) {
  parts.clear();
  std::string bytes;
  if (!util::readFile(partsStatePath(destPath), bytes, kMaxStateBytes)) return false;
  std::vector<PartState> read;
  uint64_t next = 0;  // where the next part must start: the parts cover the resource in order
  size_t at = 0;
  bool first = true;
  while (at < bytes.size()) {
    const size_t end = bytes.find('\n', at);
    if (end == std::string::npos) return false;  // written in part
    uint64_t values[3] = {};
    const size_t count = first ? 1 : 3;
    size_t p = at;
    for (size_t k = 0; k < count; ++k) {
      if (k > 0 && (p >= end || bytes[p++] != ' ')) return false;
      if (p >= end || bytes[p] < '0' || bytes[p] > '9') return false;
      for (; p < end && bytes[p] >= '0' && bytes[p] <= '9'; ++p) {
        if (values[k] > (UINT64_MAX - 9) / 10) return false;
        values[k] = values[k] * 10 + static_cast<uint64_t>(bytes[p] - '0');
      }
    }
    if (p != end) return false;
    at = end + 1;
    if (first) {
      if (values[0] != total) return false;
      first = false;
      continue;
    }
    const PartState part{values[0], values[1], values[2]};
    if (part.start != next || part.end < part.start || part.end >= total ||
        part.have > part.end - part.start + 1) {
      return false;
    }
    next = part.end + 1;
    read.push_back(part);
  }
  if (read.empty() || next != total) return false;
  parts = std::move(read);
  return true;
}

bool writePartsState(const std::wstring& destPath, uint64_t total, const std::vector<PartState>& parts) {
  std::string bytes = std::to_string(total) + "\n";
  for (const PartState& part : parts) {
    bytes += std::to_string(part.start) + " " + std::to_string(part.end) + " " + std::to_string(part.have) + "\n";
  }
  return util::writeFile(partsStatePath(destPath), bytes.data(), bytes.size());
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
                                 const ByteProgress& progress, CancelEvent cancelEvent,
                                 const std::vector<MirrorConnection>& mirrors) {
  const size_t threadCount = partRanges(total).size();
  const std::wstring dataPath = partsDataPath(destPath);
  // The data file belongs to the first source's version; the mirrors' bytes are vouched for by
  // the caller's digest.
  Schedule schedule(partsToFetch(total, destPath, validator));
  storeValidator(dataPath, validator);
  std::deque<PartSource> sources;
  sources.emplace_back(connection, validator);
  for (const MirrorConnection& mirror : mirrors) sources.emplace_back(mirror.connection, mirror.validator);
  MultipartContext context(sources, progress, total, dataPath, cancelEvent);

  std::vector<std::thread> threads(threadCount);
  for (std::thread& thread : threads) {
    // The threads start on the sources in turn, so that every source carries pieces at once.
    const size_t source = static_cast<size_t>(&thread - threads.data()) % sources.size();
    try {
      thread = std::thread(runPartThread, std::ref(schedule), std::ref(context), source);
    } catch (...) {
      // Fewer threads share the parts; with none, nothing would ever fetch them.
      if (&thread == &threads.front()) {
        keepParts(schedule.parts(), destPath, total);
        return downloadFailed(std::wstring(net::kPartsFailed) + net::kPartThreadFailed + net::kPartsKept);
      }
      break;
    }
  }
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }

  const std::deque<Part>& parts = schedule.parts();
  if (context.cancelled) {
    discardParts(destPath);
    return cancelledDownload();
  }
  if (context.rangeIgnored) {
    discardParts(destPath);
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
    keepParts(parts, destPath, total);
    return downloadFailed(net::kPartsFailed + (failed->message.empty() ? net::kUnknownError : failed->message) +
                          net::kPartsKept);
  }
  return finishParts(parts, total, destPath);
}
