// WinHTTP plumbing shared by every download: URL splitting, the per-download connection record,
// the set-up of GET requests, the following of redirects and the range probe that chooses between
// one stream and parts.
#pragma once

#include "net/download.h"
#include "util/handles.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Not every SDK's winhttp.h names it.
constexpr DWORD kStatusRangeNotSatisfiable = 416;

struct InternetHandleTraits {  // WinHttpOpen, WinHttpConnect, WinHttpOpenRequest
  using Type = HINTERNET;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { WinHttpCloseHandle(h); }
};
using InternetHandle = util::UniqueHandle<InternetHandleTraits>;

// One WinHTTP session and connect handle for one URL. Opened, used and closed by one thread,
// except that the parts of a multi-part download open requests on `connection` at the same time;
// nothing here changes while they run. A redirect followed by sendFollowingRedirects points the
// record at the final address, so that every later request (ranges, resumes) goes there at once.
struct HttpConnection {
  // Declared before `connection` so that the connect handle is closed first.
  InternetHandle session;
  InternetHandle connection;
  std::wstring url;   // where requests go: the given address, or where its redirects led
  std::wstring host;
  std::wstring path;  // request target: the URL's path followed by its query
  uint16_t port = 0;
  bool secure = false;
  // Why a redirect could not be followed to its end (refused, or its target failed); empty
  // otherwise. A download stops with it rather than ask the first address again.
  std::wstring redirectFailure;

  // Connect handle first, then the session.
  void close() noexcept {
    connection.reset();
    session.reset();
  }
};

// Splits an http or https URL. A user name or password in it is dropped; a host of more than 255
// characters or a request target of more than 2047 makes the split fail.
[[nodiscard]] bool crackUrl(const std::wstring& url, std::wstring& host, uint16_t& port,
                            bool& secure, std::wstring& path);

// Fills the record and opens its handles; on failure the handles opened so far stay in the
// record and the last error is the failing call's.
[[nodiscard]] bool openHttpConnection(HttpConnection& connection, const std::wstring& url);

// A GET request on the connection with the download time-outs set; empty on failure. WinHTTP
// follows no redirect of it: only sendFollowingRedirects does.
InternetHandle openGetRequest(const HttpConnection& connection);

// Sends the request with optional extra headers (each ending in "\r\n") and waits for the
// response headers.
[[nodiscard]] bool sendRequest(HINTERNET request, const std::wstring& headers);

// Opens a GET request on the connection, sends it with the headers and waits for the answer; a
// redirect (see isRedirectStatus) with a Location moves the connection to that address and the
// same request goes there, up to kMaxRedirects times. An https address never hands over to http:
// that redirect is refused before anything is sent. False with the failure's text in `failure`
// (and, after a redirect, in connection.redirectFailure); a redirect without a Location is
// answered as it is.
[[nodiscard]] bool sendFollowingRedirects(HttpConnection& connection, InternetHandle& request,
                                          const std::wstring& headers, std::wstring& failure);

// The body's stated length (Content-Length) of a received response; 0 when it has none. Read as
// text: WinHTTP's numeric form is 32 bits wide.
uint64_t responseContentLength(HINTERNET request);

// The numeric status of a received response; 0 when it cannot be read.
DWORD responseStatus(HINTERNET request);

// Asks for the first byte, following redirects. True, with the resource size in `total`, only for a 206 answer whose
// Content-Range states a size above 0; `total` is 0 otherwise. The answer's validator (see
// responseValidator) goes to `validator` when given.
[[nodiscard]] bool probeRangeSupport(HttpConnection& connection, uint64_t& total,
                                     std::wstring* validator = nullptr);

// The probe on a connection of its own; true only with a size above 0. A cancel ends the wait at
// once (false, size 0).
[[nodiscard]] bool queryRemoteSize(const std::wstring& url, uint64_t& size,
                                   CancelEvent cancelEvent = nullptr);

// The sizes only weigh the packages on the progress bar: a server slow to tell them delays the
// work by this much at most.
inline constexpr DWORD kSizesWaitMs = 15000;

// queryRemoteSize for several addresses at once, each on a thread of its own: their sizes, 0 for
// an empty address and where the server does not tell, or has not told within kSizesWaitMs (or
// before a cancel ended the wait).
std::vector<uint64_t> queryRemoteSizes(const std::vector<std::wstring>& urls, CancelEvent cancelEvent = nullptr);

// How much one body read asks for. A synchronous read returns only when its buffer is full or
// the body ends: large reads on a fast link, where the cost of each call decides the speed, and
// small ones on a slow link, where a large read would hold back progress and cancel.
class ReadSizer {
 public:
  // The size of the next read: at least what WinHTTP has buffered, at most what is left.
  DWORD next(DWORD available, uint64_t left);
  // After each read: grows while reads come back at once, shrinks when they wait on the link.
  void took(uint64_t milliseconds);

 private:
  DWORD ask_ = 65536;
};

// What ended a body read.
enum class BodyEnd {
  kEnded,    // the server ended the body, or nothing more was wanted
  kStopped,  // the caller's stop or take said so
  kFailed,   // WinHTTP failed; GetLastError() says why
};

// The caller's side of a body read: where the bytes go, its bounds and its progress stay its own.
struct BodyHooks {
  std::function<bool()> stop;      // asked before each read; true stops
  std::function<uint64_t()> left;  // the bytes still wanted (UINT64_MAX: no bound)
  // Each read, cut to what is left; false stops.
  std::function<bool(const char* data, DWORD size)> take;
};

// Reads the body of a received response, each read sized by a ReadSizer, into `buffer` (grown as
// needed; a caller may keep it for its next body) and hands it to `take`.
BodyEnd readBody(HINTERNET request, std::vector<char>& buffer, const BodyHooks& hooks);
