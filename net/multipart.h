// A large resource from a range-honouring server over two to six connections at once. It starts
// as two to six byte ranges, one thread each; a thread asks for its range piece by piece on its
// kept-alive connection, and a thread whose range is done takes over the far half of the range
// with the most left, so that no single slow connection decides the end. Every range writes at its
// own offsets in one data file (destPath + ".parts", with the validator it was begun under), which
// is hashed once complete and renamed into place: nothing is copied. Mirrors of the resource
// carry pieces at the same time, and a source that keeps failing is given up for another. A call
// that fails leaves what each range holds in a state file, and the next call resumes every range
// on its own.
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
};

// One range per 2 MiB of the total, at least two and at most six; the last range takes the
// remainder and ends at total - 1.
std::vector<PartRange> partRanges(uint64_t total);

// The data file of a download in parts, and the state a failed call leaves beside it.
std::wstring partsDataPath(const std::wstring& destPath);
std::wstring partsStatePath(const std::wstring& destPath);
// Deletes the data file, its validator and the state.
void discardParts(const std::wstring& destPath);

// What the data file holds of one range: bytes [start, start + have).
struct PartState {
  uint64_t start = 0;
  uint64_t end = 0;  // inclusive
  uint64_t have = 0;
};

// The state file is text: the total on the first line, then "start end have" per range, in byte
// order, the ranges covering the whole resource. Reading refuses anything else (and another
// total), so that a damaged file only costs a fresh start.
bool readPartsState(const std::wstring& destPath, uint64_t total, std::vector<PartState>& parts);
bool writePartsState(const std::wstring& destPath, uint64_t total, const std::vector<PartState>& parts);

// The last byte of the next request for a range that is done up to `from` and ends at `end`:
// 4 MiB, or the whole rest when that is at most 128 KiB more.
uint64_t pieceEnd(uint64_t from, uint64_t end);

// Where a range whose holder has asked for everything before `asked` and that ends at `end` is
// split for a free thread: the middle of the rest, when more than 1 MiB is left. False: keep it.
bool splitPoint(uint64_t asked, uint64_t end, uint64_t& at);

// Another address of the same resource, probed: it honours ranges and told the same size.
struct MirrorConnection {
  HttpConnection connection;
  std::wstring validator;  // of its own answer
};

// Blocks until every part has ended and the data file is hashed and in place. total and
// validator are the probe's. The part threads start on the connection and the mirrors in turn;
// a source on which a piece keeps failing after its retries, or that answers 400 or more, is
// given up and its threads go on from another one, so that a part fails only when no source is
// left.
DownloadResult downloadMultipart(const HttpConnection& connection, uint64_t total,
                                 const std::wstring& validator, const std::wstring& destPath,
                                 const ByteProgress& progress, CancelEvent cancelEvent,
                                 const std::vector<MirrorConnection>& mirrors = {});
