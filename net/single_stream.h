// One GET into destPath + ".part", resumed from that file's size with an open-ended range, and
// renamed into place at the end of the body.
#pragma once

#include "net/download.h"
#include "net/http_connection.h"

#include <string>

// The partial file of a destination: destPath + ".part".
std::wstring partialPath(const std::wstring& destPath);

// Size of an existing, readable file; 0 when it is missing or unreadable.
uint64_t existingFileSize(const std::wstring& path);

// Blocks until the download has ended. A failure keeps the partial file for the next call; a
// cancellation deletes it.
DownloadResult downloadSingleStream(const HttpConnection& connection, const std::wstring& destPath,
                                    const ByteProgress& progress, CancelEvent cancelEvent);
