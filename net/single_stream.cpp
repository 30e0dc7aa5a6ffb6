#include "net/single_stream.h"

#include "net/resume.h"
#include "net/sha256.h"
#include "net/texts.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/handles.h"

#include <windows.h>

#include <vector>

namespace {

enum class Outcome { Complete, Cancelled, Failed };

std::wstring interruptedText(const std::wstring& description) {
  return net::withReason(net::kInterrupted, description) + net::kResumableSuffix;
}

// Everything between the request and the end of the body. The request and the partial file are
// owned by the caller, which closes them on every path.
class Transfer {
 public:
  Transfer(const HttpConnection& connection, const std::wstring& partPath,
           const ByteProgress& progress, CancelEvent cancelEvent)
      : connection_(connection), partPath_(partPath), progress_(progress), cancel_(cancelEvent) {}

  // The digest of the complete file, once run() has answered Complete.
  std::string digest() { return hash_.finish(); }

  Outcome run(InternetHandle& request, util::FileHandle& file, std::wstring& message) {
    uint64_t have = existingFileSize(partPath_);
    std::wstring validator = storedValidator(partPath_);
    // Without the validator of the answer that began it, nothing proves that the partial file
    // and what the server holds today belong to the same file.
    if (have > 0 && validator.empty()) {
      discardPartial(partPath_);
      have = 0;
    }
    bool restarted = false;
    DWORD status = 0;
    for (;;) {
      request = openGetRequest(connection_);
      if (!request) {
        message = net::withReason(net::kRequestFailed, lastErrorText());
        return Outcome::Failed;
      }
      const std::wstring headers = have > 0 ? rangeHeaders(have, UINT64_MAX, validator) : std::wstring();
      if (!sendRequest(request.get(), headers)) {
        if (isCancelSignalled(cancel_)) return Outcome::Cancelled;
        message = net::withReason(net::kConnectFailed, lastErrorText());
        return Outcome::Failed;
      }
      status = responseStatus(request.get());
      // 416: the partial file already held everything (or more). A 206 for other bytes than the
      // ones asked for cannot be appended. Either way the file starts over, once.
      const bool wrongRange = status == HTTP_STATUS_PARTIAL_CONTENT && !rangeFits(request.get(), have);
      if (status != kStatusRangeNotSatisfiable && !wrongRange) break;
      if (restarted) {
        message = wrongRange ? std::wstring(net::kWrongRange)
                             : net::kBadStatus + std::to_wstring(status);
        discardPartial(partPath_);
        return Outcome::Failed;
      }
      discardPartial(partPath_);
      have = 0;
      request.reset();
      restarted = true;
    }

    if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) {
      message = net::kBadStatus + std::to_wstring(status);
      return Outcome::Failed;
    }
    if (status == HTTP_STATUS_OK) {
      // The whole resource follows whatever was asked for (or it changed since the partial file
      // began): the file starts over under this answer's validator.
      discardPartial(partPath_);
      have = 0;
      storeValidator(partPath_, responseValidator(request.get()));
    }
    file.reset(CreateFileW(partPath_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      message = net::withReason(net::kCannotWriteFile + partPath_, lastErrorText());
      return Outcome::Failed;
    }
    // Held open from here on, the file cannot change under us; before, a transfer abandoned by
    // a cancel may have removed it.
    if (util::fileSize(file.get()) < have) {
      message = net::kPartialChanged;
      return Outcome::Failed;
    }
    // The digest covers the kept head first, read from the file now held open, then each new
    // byte as it arrives.
    if (!hash_.begin()) {
      message = kHashSetUpFailedText;
      return Outcome::Failed;
    }
    if (!hash_.addFile(file.get(), have)) {
      message = net::kPartialChanged;
      return Outcome::Failed;
    }
    SetEndOfFile(file.get());

    const uint64_t length = responseContentLength(request.get());
    const uint64_t total = length > 0 ? have + length : 0;
    if (progress_ && !progress_(have, total)) return Outcome::Cancelled;
    return receive(request.get(), file.get(), have, total, message);
  }

 private:
  // A resumed answer must start where the file ends and run to the end of a known total.
  static bool rangeFits(HINTERNET request, uint64_t have) {
    ContentRange range;
    return responseContentRange(request, range) && range.start == have && range.total > 0 &&
           range.end == range.total - 1;
  }

  Outcome receive(HINTERNET request, HANDLE file, uint64_t& have, uint64_t total,
                  std::wstring& message) {
    std::vector<char> buffer;
    Outcome stopped = Outcome::Cancelled;
    BodyHooks hooks;
    hooks.stop = [this] { return isCancelSignalled(cancel_); };
    // Nothing beyond the stated length reaches the file.
    hooks.left = [&] { return total > 0 ? total - have : UINT64_MAX; };
    hooks.take = [&](const char* data, DWORD size) {
      // Nothing after a cancel.
      if (isCancelSignalled(cancel_)) return false;
      DWORD written = 0;
      if (!WriteFile(file, data, size, &written, nullptr) || written < size) {
        message = net::withReason(net::kDiskWriteFailed, lastErrorText());
        stopped = Outcome::Failed;
        return false;
      }
      hash_.add(data, written);
      have += written;
      return !progress_ || progress_(have, total);
    };
    switch (readBody(request, buffer, hooks)) {
      case BodyEnd::kStopped: return stopped;
      case BodyEnd::kFailed:
        if (isCancelSignalled(cancel_)) return Outcome::Cancelled;
        message = interruptedText(lastErrorText());
        return Outcome::Failed;
      case BodyEnd::kEnded: break;
    }
    // WinHTTP reports a connection closed early as a normal end of the body. A stated length
    // that did not arrive is an interrupted transfer, resumable like any other, not a complete
    // file: many downloads have no digest to catch the short file later.
    if (total > 0 && have < total) {
      SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
      message = interruptedText(lastErrorText());
      return Outcome::Failed;
    }
    return Outcome::Complete;
  }

  const HttpConnection& connection_;
  Sha256 hash_;
  const std::wstring& partPath_;
  const ByteProgress& progress_;
  CancelEvent cancel_;
};

}  // namespace

std::wstring partialPath(const std::wstring& destPath) { return destPath + L".part"; }

uint64_t existingFileSize(const std::wstring& path) {
  util::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

DownloadResult downloadSingleStream(const HttpConnection& connection, const std::wstring& destPath,
                                    const ByteProgress& progress, CancelEvent cancelEvent) {
  const std::wstring partPath = partialPath(destPath);
  DownloadResult result;
  std::wstring message;
  InternetHandle request;
  util::FileHandle file;
  Transfer transfer(connection, partPath, progress, cancelEvent);
  const Outcome outcome = transfer.run(request, file, message);
  if (file) {
    // Only a partial file kept for a later call must survive a crash; a complete one is used at
    // once and never trusted by a later run.
    if (outcome == Outcome::Failed) FlushFileBuffers(file.get());
    file.reset();
  }
  request.reset();

  switch (outcome) {
    case Outcome::Complete:
      if (MoveFileExW(partPath.c_str(), destPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        discardPartial(partPath);  // only the validator is left
        result.sha256 = transfer.digest();
      } else {
        result = downloadFailed(net::withReason(net::kRenameFailed, lastErrorText()));
      }
      break;
    case Outcome::Cancelled:
      discardPartial(partPath);
      result = cancelledDownload();
      break;
    case Outcome::Failed:
      result = downloadFailed(std::move(message));  // the partial file stays for the next call to resume
      break;
  }
  return result;
}
