// A large resource from a range-honouring server over two to six connections at once. It starts
// as two to six byte ranges, one thread each; a thread asks for its range piece by piece on its
// kept-alive connection, and a thread whose range is done takes over the far half of the range
// with the most left, so that no single slow connection decides the end. Every range has a part
// file of its own, with the validator it was begun under, and resumes on its own; the part files
// are merged in byte order into destPath + ".part", hashed on the way, and renamed into place.
#pragma once

#include "net/download.h"
#include "net/http_connection.h"

#include <cstdint>
#include <string>
#include <vector>

// Resources of this size or more are fetched in parts (when the server honours ranges).
constexpr uint64_t kMultipartThreshold = 8388608;

struct PartRange {
  uint64_t start = 0;
  uint64_t end = 0;  // inclusive
  std::wstring path;  // the part file
};

// One range per 2 MiB of the total, at least two and at most six; the last range takes the
// remainder and ends at total - 1. Range i's part file is destPath + ".p" + i.
std::vector<PartRange> partRanges(uint64_t total, const std::wstring& destPath);

// The part file of a range split off the initial range `index` at byte `start`:
// destPath + ".p" + index + "." + start. A later call finds it by that name and resumes it.
std::wstring splitPartPath(const std::wstring& destPath, size_t index, uint64_t start);

// The last byte of the next request for a range that is done up to `from` and ends at `end`:
// 1984 KiB, or the whole rest when that is at most 128 KiB more.
uint64_t pieceEnd(uint64_t from, uint64_t end);

// Where a range whose holder has asked for everything before `asked` and that ends at `end` is
// split for a free thread: the middle of the rest, when more than 4 MiB is left. False: keep it.
bool splitPoint(uint64_t asked, uint64_t end, uint64_t& at);

// Blocks until every part has ended and the merge is done. total and validator are the probe's.
DownloadResult downloadMultipart(const HttpConnection& connection, uint64_t total,
                                 const std::wstring& validator, const std::wstring& destPath,
                                 const ByteProgress& progress, CancelEvent cancelEvent);
