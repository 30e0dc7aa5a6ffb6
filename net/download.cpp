#include "net/download.h"

#include "net/cancellable_call.h"
#include "net/http_connection.h"
#include "net/multipart.h"
#include "net/resume.h"
#include "net/single_stream.h"
#include "net/texts.h"
#include "util/error_text.h"

#include <windows.h>

#include <memory>
#include <thread>

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

// The mirrors that may carry parts beside the first source: those that honour ranges and tell
// the same size. They are probed at once, each on a thread of its own, so that a dead one costs
// no more than the slowest answer.
std::vector<MirrorConnection> probeMirrors(const std::vector<std::wstring>& urls, uint64_t total) {
  std::vector<MirrorConnection> probed(urls.size());
  std::vector<char> usable(urls.size(), 0);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < urls.size(); ++i) {
    try {
      threads.emplace_back([&, i] {
        uint64_t size = 0;
        usable[i] = openHttpConnection(probed[i].connection, urls[i]) &&
                    probeRangeSupport(probed[i].connection, size, &probed[i].validator) && size == total;
      });
    } catch (...) {
      break;  // the mirrors without a thread are left out
    }
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<MirrorConnection> mirrors;
  for (size_t i = 0; i < urls.size(); ++i) {
    if (usable[i]) mirrors.push_back(std::move(probed[i]));
  }
  return mirrors;
}

// sources[0] first; the others only carry parts beside it.
DownloadResult downloadNow(const std::vector<std::wstring>& sources, const std::wstring& destPath,
                           const ByteProgress& progress, CancelEvent cancelEvent) {
  HttpConnection connection;
  if (!openHttpConnection(connection, sources.front())) {
    return downloadFailed(net::withReason(net::kInitFailed, lastErrorText()));
  }
  uint64_t total = 0;
  std::wstring validator;
  // No retries here: whatever fails is resumed by the next call from the files left behind.
  const bool inParts = probeRangeSupport(connection, total, &validator) && total >= kMultipartThreshold;
  if (!connection.redirectFailure.empty()) return downloadFailed(connection.redirectFailure);
  DownloadResult result;
  if (inParts) {
    const std::vector<MirrorConnection> mirrors =
        probeMirrors(std::vector<std::wstring>(sources.begin() + 1, sources.end()), total);
    result = downloadMultipart(connection, total, validator, destPath, progress, cancelEvent, mirrors);
  } else {
    result = downloadSingleStream(connection, destPath, progress, cancelEvent);
  }
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

// The sources in order until one delivers the expected bytes; see downloadFromSources.
DownloadResult downloadInTurn(const std::vector<std::wstring>& sources, const std::string& expectedSha256,
                              const std::wstring& destPath, const ByteProgress& progress,
                              CancelEvent cancelEvent, size_t& used) {
  // No address at all is an address that cannot be split.
  if (sources.empty()) return downloadNow({std::wstring()}, destPath, progress, cancelEvent);
  DownloadResult result;
  for (size_t i = 0; i < sources.size(); ++i) {
    used = i;
    result = downloadNow(std::vector<std::wstring>(sources.begin() + i, sources.end()), destPath, progress,
                         cancelEvent);
    if (result.cancelled() || i + 1 == sources.size()) break;
    if (result.ok()) {
      if (expectedSha256.empty() || result.sha256 == expectedSha256) break;
      // Other bytes: nothing of them is worth keeping for the next source.
      DeleteFileW(destPath.c_str());
    }
    // A failed source's partial files stay: the next source resumes them only when its
    // validator is the same, which a copy of the same file on another server rarely has.
  }
  return result;
}

}  // namespace

DownloadResult downloadFile(const std::wstring& url, const std::wstring& destPath,
                            const ByteProgress& progress, CancelEvent cancelEvent) {
  return downloadFromSources({url}, {}, destPath, progress, cancelEvent);
}

DownloadResult downloadFromSources(const std::vector<std::wstring>& sources, const std::string& expectedSha256,
                                   const std::wstring& destPath, const ByteProgress& progress,
                                   CancelEvent cancelEvent, size_t* used) {
  auto relay = std::make_shared<net::ProgressRelay>(progress);
  auto result = std::make_shared<DownloadResult>();
  auto source = std::make_shared<size_t>(0);
  const bool ended = net::runCancellable(
      cancelEvent, [sources, expectedSha256, destPath, relay, result, source](CancelEvent cancel) {
        *result = downloadInTurn(sources, expectedSha256, destPath, net::relayed(relay), cancel, *source);
      });
  if (!ended) {
    relay->close();
    return cancelledDownload();
  }
  if (used) *used = *source;
  return *result;
}
