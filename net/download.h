// The one entry point through which the system fetches anything, and the types every download
// path shares: the result record, the progress callback and the cancel event.
#pragma once

#include "util/byte_progress.h"
#include "util/failure.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DownloadResult {
  // None when the destination file is complete and in place; a cancel when the caller stopped
  // the download; else a network failure (the server, the connection, the partial files).
  util::Failure failure;
  // SHA-256 of the destination file's bytes, 64 lower-case hex characters, computed while they
  // arrived: set by downloadFile on success only, so that nobody reads the file again to check it.
  std::string sha256;

  bool ok() const { return !failure; }
  bool cancelled() const { return failure.cancelled(); }
};

// A download that failed with that text.
DownloadResult downloadFailed(std::wstring text);

// ByteProgress is called with (bytes done, bytes total; 0 when the size is unknown) on the
// downloading thread, never by two threads at once; returning false cancels.

// A manual-reset event handle (HANDLE), or null. Downloads only test it without waiting; the
// owner creates, sets and closes it.
using CancelEvent = void*;

// The four inputs of one download, for callers that keep or pass them around together.
struct DownloadRequest {
  std::wstring url;       // http or https
  std::wstring destPath;  // full path; its folder must exist
  ByteProgress progress;  // may be empty
  CancelEvent cancelEvent = nullptr;
};

using util::kCancelledText;

// The result of a cancelled call.
DownloadResult cancelledDownload();

// True when the event is present and signalled.
bool isCancelSignalled(CancelEvent event);

// Fetches url into destPath (its folder must exist): probes the server, then downloads in
// parallel parts (ranges honoured, 8 MiB or more) or as one resumable stream. Partial data of a
// failed call stays beside destPath, with the validator that lets the next call resume it only
// from the same version of the resource; a cancelled call leaves none. A cancel is answered
// within about half a second even while the server keeps silent; the abandoned transfer then
// ends on its own with its time-out and removes its partial data itself.
DownloadResult downloadFile(const std::wstring& url, const std::wstring& destPath,
                            const ByteProgress& progress, CancelEvent cancelEvent);

// downloadFile over several addresses of the same file, in order: a source is given up for the
// next when it cannot be reached, answers 400 or more, or a part keeps failing on it after its
// retries; a download in parts also takes pieces from the sources after the one it started on. A
// file whose digest is not expectedSha256 (empty: any digest will do) is deleted and the next
// source tried. With no source left, the last source's result: its failure, or the file of other
// bytes, whose sha256 then tells the caller to refuse it as it would from one source. *used
// (when given) is the index of the source the result came from.
DownloadResult downloadFromSources(const std::vector<std::wstring>& sources, const std::string& expectedSha256,
                                   const std::wstring& destPath, const ByteProgress& progress,
                                   CancelEvent cancelEvent, size_t* used = nullptr);
