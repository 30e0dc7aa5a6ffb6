#include "net/http_connection.h"

#include "net/cancellable_call.h"
#include "net/resume.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <thread>


namespace {

constexpr wchar_t kUserAgent[] = L"OrvaloSetup/1.0";
constexpr DWORD kMaxConnectionsPerServer = 8;  // room for the six parts of a download
constexpr int kResolveTimeoutMs = 15000;
constexpr int kConnectTimeoutMs = 20000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 60000;

// Buffer sizes include the terminating zero; longer hosts or targets make the split fail.
constexpr DWORD kHostBufferChars = 256;
constexpr DWORD kPathBufferChars = 2048;

}  // namespace

bool crackUrl(const std::wstring& url, std::wstring& host, uint16_t& port, bool& secure,
              std::wstring& path) {
  wchar_t hostBuffer[kHostBufferChars] = {};
  wchar_t pathBuffer[kPathBufferChars] = {};
  wchar_t extraBuffer[kPathBufferChars] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = hostBuffer;
  parts.dwHostNameLength = kHostBufferChars;
  parts.lpszUrlPath = pathBuffer;
  parts.dwUrlPathLength = kPathBufferChars;
  parts.lpszExtraInfo = extraBuffer;
  parts.dwExtraInfoLength = kPathBufferChars;
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    SetLastError(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    return false;
  }
  std::wstring target = pathBuffer;
  target += extraBuffer;  // the query (and fragment) belong to the request target
  if (target.size() >= kPathBufferChars) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  if (target.empty() || target[0] != L'/') target.insert(0, L"/");
  host = hostBuffer;
  port = parts.nPort;
  secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  path = std::move(target);
  return true;
}

bool openHttpConnection(HttpConnection& connection, const std::wstring& url) {
  if (!crackUrl(url, connection.host, connection.port, connection.secure, connection.path)) {
    return false;
  }
  connection.session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!connection.session) return false;
  DWORD maxConnections = kMaxConnectionsPerServer;
  WinHttpSetOption(connection.session.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &maxConnections,
                   sizeof maxConnections);
  connection.connection.reset(
      WinHttpConnect(connection.session.get(), connection.host.c_str(), connection.port, 0));
  return connection.connection.valid();
}

InternetHandle openGetRequest(const HttpConnection& connection) {
  InternetHandle request(WinHttpOpenRequest(
      connection.connection.get(), L"GET", connection.path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, connection.secure ? WINHTTP_FLAG_SECURE : 0));
  if (request) {
    WinHttpSetTimeouts(request.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                       kReceiveTimeoutMs);
  }
  return request;
}

bool sendRequest(HINTERNET request, const std::wstring& headers) {
  const wchar_t* extra = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
  const DWORD extraLength = headers.empty() ? 0 : static_cast<DWORD>(-1);
  return WinHttpSendRequest(request, extra, extraLength, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
         WinHttpReceiveResponse(request, nullptr);
}

uint64_t responseContentLength(HINTERNET request) {
  wchar_t value[32] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           value, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return std::wcstoull(value, nullptr, 10);
}

DWORD responseStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
}

bool probeRangeSupport(const HttpConnection& connection, uint64_t& total, std::wstring* validator) {
  total = 0;
  if (validator) validator->clear();
  InternetHandle request = openGetRequest(connection);
  if (!request) return false;
  if (!sendRequest(request.get(), L"Range: bytes=0-0\r\n")) return false;
  // 200 means the server ignores ranges; the body it started to send is never read.
  if (responseStatus(request.get()) != HTTP_STATUS_PARTIAL_CONTENT) return false;
  // "bytes 0-0/*" (size unknown) fails like a missing size.
  ContentRange range;
  if (!responseContentRange(request.get(), range) || range.start != 0 || range.total == 0) {
    return false;
  }
  total = range.total;
  if (validator) *validator = responseValidator(request.get());
  // The byte read to its end leaves the connection open for the first part, which then saves
  // the round trip of a new one.
  char byte = 0;
  DWORD read = 0;
  (void)WinHttpReadData(request.get(), &byte, 1, &read);
  return true;
}

bool queryRemoteSize(const std::wstring& url, uint64_t& size, CancelEvent cancelEvent) {
  size = 0;
  auto found = std::make_shared<uint64_t>(0);
  const bool ended = net::runCancellable(cancelEvent, [url, found](CancelEvent) {
    HttpConnection connection;
    uint64_t total = 0;
    if (openHttpConnection(connection, url) && probeRangeSupport(connection, total)) *found = total;
    connection.close();
  });
  if (ended) size = *found;
  return size > 0;
}

std::vector<uint64_t> queryRemoteSizes(const std::vector<std::wstring>& urls, CancelEvent cancelEvent) {
  std::vector<uint64_t> sizes(urls.size(), 0);
  const auto probe = [&](size_t i) {
    uint64_t size = 0;
    if (!urls[i].empty() && queryRemoteSize(urls[i], size, cancelEvent)) sizes[i] = size;
  };
  std::vector<std::thread> threads;
  for (size_t i = 0; i < urls.size(); ++i) {
    try {
      threads.emplace_back(probe, i);
    } catch (...) {
      probe(i);  // no thread to spare: this one is probed here
    }
  }
  for (std::thread& thread : threads) thread.join();
  return sizes;
}

namespace {
constexpr DWORD kSmallestRead = 16384;
constexpr DWORD kLargestRead = 1048576;
constexpr uint64_t kQuickReadMs = 20;
constexpr uint64_t kSlowReadMs = 100;
}  // namespace

DWORD ReadSizer::next(DWORD available, uint64_t left) {
  const DWORD wanted = std::max(available, ask_);
  return static_cast<DWORD>(std::min<uint64_t>(wanted, std::max<uint64_t>(left, available)));
}

BodyEnd readBody(HINTERNET request, std::vector<char>& buffer, const BodyHooks& hooks) {
  ReadSizer sizer;
  for (;;) {
    if (hooks.stop()) return BodyEnd::kStopped;
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return BodyEnd::kFailed;
    if (available == 0) return BodyEnd::kEnded;
    const uint64_t left = hooks.left();
    const DWORD ask = sizer.next(available, left);
    if (buffer.size() < ask) buffer.resize(ask);
    DWORD read = 0;
    const uint64_t started = GetTickCount64();
    const bool gotData = WinHttpReadData(request, buffer.data(), ask, &read) && read > 0;
    sizer.took(GetTickCount64() - started);
    if (!gotData) return BodyEnd::kFailed;
    if (read > left) read = static_cast<DWORD>(left);
    if (!hooks.take(buffer.data(), read)) return BodyEnd::kStopped;
    if (hooks.left() == 0) return BodyEnd::kEnded;
  }
}

void ReadSizer::took(uint64_t milliseconds) {
  if (milliseconds < kQuickReadMs) {
    ask_ = std::min(ask_ * 2, kLargestRead);
  } else if (milliseconds > kSlowReadMs) {
    ask_ = std::max(ask_ / 2, kSmallestRead);
  }
}
