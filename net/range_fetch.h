// Scattered byte ranges of one resource, fetched at once over a few connections into one file,
// each range exactly as asked or not at all. For the entries of a package that an installation
// lacks: anything unexpected fails the call, and the caller then fetches the resource whole.
#pragma once

#include "net/download.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

inline constexpr size_t kMaxRangeConnections = 6;

struct ByteSpan {
  uint64_t first = 0;
  uint64_t count = 0;  // above 0
};

struct RangeFetchResult {
  // None when every range is in the file; a cancel; else why not (a network failure).
  util::Failure failure;
  // The server answered a range with the whole resource (200): it does not honour ranges.
  bool rangesIgnored = false;
  uint64_t fetched = 0;  // body bytes received, whatever the end
};

// Fetches every span of url into outPath (created or replaced), one after another: span k at the
// sum of the counts before it. Each span is one request on one of up to kMaxRangeConnections
// connections, answered by a 206 whose Content-Range is exactly that span of a resource of `total`
// bytes, with exactly that many bytes; a transfer cut short is asked again once, any other answer
// fails the call. A validator (an ETag or a date, as the probe gave it) goes in If-Range, so that a
// resource replaced meanwhile answers 200 and fails the call too. progress receives (bytes
// received, sum of the counts) from one thread at a time; false stops as a cancel. outPath is
// removed when the call fails.
RangeFetchResult fetchRanges(const std::wstring& url, uint64_t total, const std::wstring& validator,
                             const std::vector<ByteSpan>& spans, const std::wstring& outPath,
                             const ByteProgress& progress, CancelEvent cancelEvent);

}  // namespace net
