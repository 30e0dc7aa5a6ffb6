// What the upgrade job posts to the upgrade window. Each payload is a heap object that the window
// frees after handling (util/payload.h).
#pragma once

#include <windows.h>

#include <cstdint>

namespace applier {

constexpr UINT WM_UPG_STATUS = WM_APP + 1;    // lParam: std::wstring status line
constexpr UINT WM_UPG_PROGRESS = WM_APP + 2;  // lParam: BarProgress
constexpr UINT WM_UPG_DONE = WM_APP + 3;      // wParam 1 success / 0 failure; lParam: std::wstring or null
constexpr UINT WM_UPG_PACKAGE = WM_APP + 4;   // lParam: prog::TotalInfo
constexpr UINT WM_UPG_FIRST = WM_UPG_STATUS;
constexpr UINT WM_UPG_LAST = WM_UPG_PACKAGE;

struct BarProgress {
  uint64_t done = 0;
  uint64_t total = 0;  // 0: no measure
};

}  // namespace applier
