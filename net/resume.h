// What makes a partial file safe to resume: the validator of the response that started it, kept
// beside it, and the check that a 206 answer covers exactly the bytes that were asked for.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

// The validator a resumed request must match: the response's strong ETag, else its
// Last-Modified date; empty when it has neither (such a partial file is never resumed).
std::wstring responseValidator(HINTERNET request);

// The validator stored beside a partial file; empty when there is none or it cannot be read.
std::wstring storedValidator(const std::wstring& partPath);

// Stores the validator beside the partial file (nothing is stored for an empty one).
void storeValidator(const std::wstring& partPath, const std::wstring& validator);

// Deletes the partial file and its validator.
void discardPartial(const std::wstring& partPath);

// The headers of a request for bytes [start, end] (end UINT64_MAX: to the end of the resource)
// that only the version named by validator may answer with 206; the server sends the whole
// resource (200) when it has changed since.
std::wstring rangeHeaders(uint64_t start, uint64_t end, const std::wstring& validator);

struct ContentRange {
  uint64_t start = 0;
  uint64_t end = 0;    // inclusive
  uint64_t total = 0;  // 0 when the server wrote "*"
};

// Parses "bytes a-b/total" (or "bytes a-b/*"); false for anything else.
bool parseContentRange(const std::wstring& value, ContentRange& range);

// The Content-Range of a received 206 answer, parsed; false when it is absent or malformed.
bool responseContentRange(HINTERNET request, ContentRange& range);
