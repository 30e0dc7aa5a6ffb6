#include "net/download.h"

#include "net/cancellable_call.h"
#include "net/http_connection.h"
#include "net/multipart.h"
#include "net/resume.h"
#include "net/single_stream.h"
#include "net/texts.h"
#include "util/error_text.h"

#include <windows.h>

DownloadResult cancelledDownload() {
  DownloadResult result;
  result.failure = util::cancelledFailure();
  return result;
}

DownloadResult downloadFailed(std::wstring text) {
  DownloadResult result;
  result.failure = util::failure(util::FailureKind::kNetwork, std::move(text));
  return result;
}

bool isCancelSignalled(CancelEvent event) {
  return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

namespace {

DownloadResult downloadNow(const std::wstring& url, const std::wstring& destPath,
                           const ByteProgress& progress, CancelEvent cancelEvent) {
  HttpConnection connection;
  if (!openHttpConnection(connection, url)) {
    return downloadFailed(net::withReason(net::kInitFailed, lastErrorText()));
  }
  uint64_t total = 0;
  std::wstring validator;
  // No retries here: whatever fails is resumed by the next call from the files left behind.
  const bool inParts = probeRangeSupport(connection, total, &validator) && total >= kMultipartThreshold;
  if (!connection.redirectFailure.empty()) return downloadFailed(connection.redirectFailure);
  const DownloadResult result = inParts ? downloadMultipart(connection, total, validator, destPath, progress, cancelEvent)
                                        : downloadSingleStream(connection, destPath, progress, cancelEvent);
  connection.close();
  // What an earlier call left for the other way (the server then told another size or range
  // support) is of no use once the file is in place.
  if (result.ok()) {
    if (inParts) {
      discardPartial(partialPath(destPath));
    } else {
      discardParts(destPath);
    }
  }
  return result;
}

}  // namespace

DownloadResult downloadFile(const std::wstring& url, const std::wstring& destPath,
                            const ByteProgress& progress, CancelEvent cancelEvent) {
  auto relay = std::make_shared<net::ProgressRelay>(progress);
  auto result = std::make_shared<DownloadResult>();
  const bool ended = net::runCancellable(cancelEvent, [url, destPath, relay, result](CancelEvent cancel) {
    *result = downloadNow(url, destPath, net::relayed(relay), cancel);
  });
  if (ended) return *result;
  relay->close();
  return cancelledDownload();
}
