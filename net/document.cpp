#include "net/document.h"

#include "net/cancellable_call.h"
#include "net/http_connection.h"
#include "net/texts.h"
#include "util/error_text.h"

#include <memory>
#include <vector>

namespace {

DownloadResult failure(std::wstring message) { return downloadFailed(std::move(message)); }

DownloadResult fetchNow(const std::wstring& url, size_t maxBytes, std::string& bytes,
                        CancelEvent cancel) {
  HttpConnection connection;
  if (!openHttpConnection(connection, url)) {
    return failure(net::withReason(net::kInitFailed, lastErrorText()));
  }
  InternetHandle request;
  std::wstring sendFailure;
  if (!sendFollowingRedirects(connection, request, std::wstring(), sendFailure)) {
    return failure(std::move(sendFailure));
  }
  const DWORD status = responseStatus(request.get());
  if (status != HTTP_STATUS_OK) return failure(net::kBadStatus + std::to_wstring(status));
  const uint64_t length = responseContentLength(request.get());
  if (length > maxBytes) {
    return failure(documentTooLargeText(maxBytes));
  }

  std::vector<char> buffer;
  for (;;) {
    if (isCancelSignalled(cancel)) return cancelledDownload();
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available)) {
      return failure(net::withReason(net::kInterrupted, lastErrorText()));
    }
    if (available == 0) break;
    // One byte past the bound is enough to know the document is too large.
    const size_t room = maxBytes - bytes.size() + 1;
    buffer.resize(available < room ? available : room);
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) ||
        read == 0) {
      return failure(net::withReason(net::kInterrupted, lastErrorText()));
    }
    bytes.append(buffer.data(), read);
    if (bytes.size() > maxBytes) return failure(documentTooLargeText(maxBytes));
  }
  if (length > 0 && bytes.size() < length) {
    SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
    return failure(net::withReason(net::kInterrupted, lastErrorText()));
  }
  return DownloadResult();
}

}  // namespace

std::wstring documentTooLargeText(size_t maxBytes) {
  return net::kTooLargeBefore + std::to_wstring(maxBytes) + net::kTooLargeAfter;
}

DownloadResult fetchDocument(const std::wstring& url, size_t maxBytes, std::string& bytes,
                             CancelEvent cancelEvent) {
  bytes.clear();
  auto result = std::make_shared<DownloadResult>();
  auto body = std::make_shared<std::string>();
  const bool ended = net::runCancellable(cancelEvent, [url, maxBytes, result, body](CancelEvent cancel) {
    *result = fetchNow(url, maxBytes, *body, cancel);
    if (!result->ok()) {
      body->clear();
      if (isCancelSignalled(cancel)) *result = cancelledDownload();
    }
  });
  if (!ended) return cancelledDownload();
  if (result->ok()) bytes = std::move(*body);
  return *result;
}
