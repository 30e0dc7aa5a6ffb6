#include "net/resume.h"

#include "util/files.h"
#include "util/text.h"

#include <cwchar>

namespace {

// A validator longer than this is not something a file server sends; it is not kept.
constexpr size_t kMaxValidatorChars = 256;

std::wstring validatorPath(const std::wstring& partPath) { return partPath + L".validator"; }

std::wstring queryHeader(HINTERNET request, DWORD header) {
  wchar_t value[kMaxValidatorChars + 1] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  return std::wstring(value, size / sizeof(wchar_t));
}

// Only printable ASCII may go back into a request header.
bool isHeaderSafe(const std::wstring& value) {
  if (value.empty() || value.size() > kMaxValidatorChars) return false;
  for (wchar_t c : value) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool parseNumber(const wchar_t*& p, uint64_t& value) {
  if (*p < L'0' || *p > L'9') return false;
  value = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    if (value > (UINT64_MAX - 9) / 10) return false;
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
  }
  return true;
}

}  // namespace

std::wstring responseValidator(HINTERNET request) {
  // A weak ETag ("W/...") may not be used with If-Range; the date then serves.
  const std::wstring etag = queryHeader(request, WINHTTP_QUERY_ETAG);
  if (isHeaderSafe(etag) && etag.compare(0, 2, L"W/") != 0) return etag;
  const std::wstring modified = queryHeader(request, WINHTTP_QUERY_LAST_MODIFIED);
  return isHeaderSafe(modified) ? modified : std::wstring();
}

std::wstring storedValidator(const std::wstring& partPath) {
  std::string bytes;
  if (!util::readFile(validatorPath(partPath), bytes, kMaxValidatorChars)) return {};
  const std::wstring value = util::toWide(util::kCodePageUtf8, bytes);
  return isHeaderSafe(value) ? value : std::wstring();
}

void storeValidator(const std::wstring& partPath, const std::wstring& validator) {
  const std::string bytes = util::toUtf8(validator);
  if (validator.empty() || !util::writeFile(validatorPath(partPath), bytes.data(), bytes.size())) {
    (void)util::deleteFileForce(validatorPath(partPath));
  }
}

void discardPartial(const std::wstring& partPath) {
  (void)util::deleteFileForce(partPath);
  (void)util::deleteFileForce(validatorPath(partPath));
}

std::wstring rangeHeaders(uint64_t start, uint64_t end, const std::wstring& validator) {
  std::wstring headers = L"Range: bytes=" + std::to_wstring(start) + L"-" +
                         (end == UINT64_MAX ? std::wstring() : std::to_wstring(end)) + L"\r\n";
  if (!validator.empty()) headers += L"If-Range: " + validator + L"\r\n";
  return headers;
}

bool parseContentRange(const std::wstring& value, ContentRange& range) {
  const wchar_t* p = value.c_str();
  if (std::wcsncmp(p, L"bytes ", 6) != 0) return false;
  p += 6;
  ContentRange parsed;
  if (!parseNumber(p, parsed.start) || *p++ != L'-' || !parseNumber(p, parsed.end) ||
      *p++ != L'/' || parsed.end < parsed.start) {
    return false;
  }
  if (*p == L'*' && p[1] == L'\0') {
    parsed.total = 0;
  } else if (!parseNumber(p, parsed.total) || *p != L'\0' || parsed.end >= parsed.total) {
    return false;
  }
  range = parsed;
  return true;
}

bool responseContentRange(HINTERNET request, ContentRange& range) {
  wchar_t value[128] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX,
                           value, &size, WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  return parseContentRange(std::wstring(value, size / sizeof(wchar_t)), range);
}
