// Small documents (the manifest, the agreement, the hints, an update description) fetched into
// memory with one plain GET: never resumed, nothing written to disk, and bounded in size while
// they stream, so that an endless or oversized answer costs at most maxBytes of memory.
#pragma once

#include "net/download.h"

#include <cstddef>
#include <string>

// The whole body of a 200 answer into bytes (empty after a failure). A Content-Length above
// maxBytes fails before any of the body is read; a body that runs past maxBytes fails when it
// does. A cancel is answered as downloadFile answers it.
DownloadResult fetchDocument(const std::wstring& url, size_t maxBytes, std::string& bytes,
                             CancelEvent cancelEvent);

// The failure text of a document larger than its bound.
std::wstring documentTooLargeText(size_t maxBytes);
