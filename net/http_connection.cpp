#include "net/http_connection.h"

#include "net/cancellable_call.h"
#include "net/redirect.h"
#include "net/resume.h"
#include "net/texts.h"
#include "util/error_text.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <mutex>
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

namespace {

// A connect handle for the server of an address already split, on the record's session.
bool connectTo(HttpConnection& connection, const std::wstring& url, std::wstring host,
               uint16_t port, bool secure, std::wstring path) {
  InternetHandle connect(WinHttpConnect(connection.session.get(), host.c_str(), port, 0));
  if (!connect) return false;
  connection.connection = std::move(connect);
  connection.url = url;
  connection.host = std::move(host);
  connection.port = port;
  connection.secure = secure;
  connection.path = std::move(path);
  return true;
}

// The Location header of a received answer; empty when it has none.
std::wstring responseLocation(HINTERNET request) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::wstring();
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                           &value[0], &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::wstring();
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

// Moves the connection to where a redirect points; false with the reason in `failure`.
bool followRedirect(HttpConnection& connection, const std::wstring& location,
                    std::wstring& failure) {
  const std::wstring target = resolveLocation(connection.url, location);
  std::wstring host;
  std::wstring path;
  uint16_t port = 0;
  bool secure = false;
  if (!crackUrl(target, host, port, secure, path)) {
    failure = net::kBadRedirect + location;
    return false;
  }
  // Checked before any request goes to the new address: what https protects must never
  // travel in the clear, not even the request for it.
  if (connection.secure && !secure) {
    failure = net::kInsecureRedirect + target;
    return false;
  }
  if (!connectTo(connection, target, std::move(host), port, secure, std::move(path))) {
    failure = net::withReason(net::kInitFailed, lastErrorText());
    return false;
  }
  return true;
}

}  // namespace

bool openHttpConnection(HttpConnection& connection, const std::wstring& url) {
  std::wstring host;
  std::wstring path;
  uint16_t port = 0;
  bool secure = false;
  if (!crackUrl(url, host, port, secure, path)) return false;
  connection.session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!connection.session) return false;
  DWORD maxConnections = kMaxConnectionsPerServer;
  WinHttpSetOption(connection.session.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &maxConnections,
                   sizeof maxConnections);
  return connectTo(connection, url, std::move(host), port, secure, std::move(path));
}

InternetHandle openGetRequest(const HttpConnection& connection) {
  InternetHandle request(WinHttpOpenRequest(
      connection.connection.get(), L"GET", connection.path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, connection.secure ? WINHTTP_FLAG_SECURE : 0));
  if (request) {
    WinHttpSetTimeouts(request.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                       kReceiveTimeoutMs);
    // WinHTTP's own following ends https to http as a bare send failure (12156) that names
    // neither address, and under Wine it points the shared connect handle at the new server
    // while the record keeps the old path, so the next range goes to the wrong place:
    // sendFollowingRedirects alone follows redirects.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
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

bool sendFollowingRedirects(HttpConnection& connection, InternetHandle& request,
                            const std::wstring& headers, std::wstring& failure) {
  for (int redirects = 0;; ++redirects) {
    request = openGetRequest(connection);
    if (!request || !sendRequest(request.get(), headers)) {
      failure = net::withReason(request ? net::kConnectFailed : net::kRequestFailed, lastErrorText());
      if (redirects > 0) connection.redirectFailure = failure;
      return false;
    }
    if (!isRedirectStatus(responseStatus(request.get()))) return true;
    const std::wstring location = responseLocation(request.get());
    if (location.empty()) return true;
    request.reset();  // its body is never read
    if (redirects == kMaxRedirects) {
      failure = net::kTooManyRedirects;
    } else if (followRedirect(connection, location, failure)) {
      continue;
    }
    connection.redirectFailure = failure;
    return false;
  }
}

bool probeRangeSupport(HttpConnection& connection, uint64_t& total, std::wstring* validator) {
  total = 0;
  if (validator) validator->clear();
  InternetHandle request;
  std::wstring failure;
  if (!sendFollowingRedirects(connection, request, L"Range: bytes=0-0\r\n", failure)) return false;
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
  // The probes run on threads of their own that may outlive this call: what they find goes to a
  // record they share with it, read once the last has ended, the wait is over or a cancel came.
  struct Probes {
    std::mutex lock;
    std::vector<uint64_t> sizes;
    size_t running = 0;
    util::Handle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  };
  auto probes = std::make_shared<Probes>();
  probes->sizes.assign(urls.size(), 0);
  if (!probes->done) return probes->sizes;
  const auto probe = [probes](size_t i, std::wstring url) {
    HttpConnection connection;
    uint64_t total = 0;
    if (!url.empty() && openHttpConnection(connection, url) && probeRangeSupport(connection, total)) {
      std::lock_guard<std::mutex> hold(probes->lock);
      probes->sizes[i] = total;
    }
    connection.close();
    std::lock_guard<std::mutex> hold(probes->lock);
    if (--probes->running == 0) SetEvent(probes->done.get());
  };
  {
    std::lock_guard<std::mutex> hold(probes->lock);
    probes->running = urls.size() + 1;  // the one more is this call's, given back below
  }
  for (size_t i = 0; i < urls.size(); ++i) {
    try {
      std::thread(probe, i, urls[i]).detach();
    } catch (...) {
      std::lock_guard<std::mutex> hold(probes->lock);
      --probes->running;  // no thread to spare: that size stays unknown
    }
  }
  {
    std::lock_guard<std::mutex> hold(probes->lock);
    if (--probes->running == 0) SetEvent(probes->done.get());
  }
  const HANDLE waits[] = {probes->done.get(), cancelEvent};
  (void)WaitForMultipleObjects(cancelEvent ? 2 : 1, waits, FALSE, kSizesWaitMs);
  std::lock_guard<std::mutex> hold(probes->lock);
  return probes->sizes;
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
