// The message protocol between a job's thread and the window that shows it, shared by the
// wizard and the upgrade window. Each payload is a heap object that the window frees after
// handling (util/payload.h); payloads still queued when a window goes away are freed by
// freeQueuedJobPayloads.
#pragma once

#include "prog/job.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace prog {

constexpr UINT WM_JOB_STATUS = WM_APP + 1;    // lParam: std::wstring status line
constexpr UINT WM_JOB_PROGRESS = WM_APP + 2;  // lParam: BarProgress
constexpr UINT WM_JOB_PACKAGE = WM_APP + 3;   // lParam: TotalInfo
constexpr UINT WM_JOB_DONE = WM_APP + 4;      // no payload: the result waits in the WindowJob
constexpr UINT WM_JOB_FIRST = WM_JOB_STATUS;
constexpr UINT WM_JOB_LAST = WM_JOB_DONE;
// A window's own messages start here.
constexpr UINT WM_JOB_NEXT_FREE = WM_APP + 16;

struct BarProgress {
  uint64_t done = 0;
  uint64_t total = 0;  // 0: no measure
};

// Frees the payloads of the job messages still queued for the window.
void freeQueuedJobPayloads(HWND window);

}  // namespace prog
