// The wizard's message protocol: what the worker threads post to the window. Each payload is a
// heap object that the window frees after handling (util/payload.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace wizard {

constexpr UINT WM_WIZ_STATUS = WM_APP + 1;     // lParam: std::wstring status line
constexpr UINT WM_WIZ_PROGRESS = WM_APP + 2;   // lParam: BarProgress
constexpr UINT WM_WIZ_DONE = WM_APP + 3;       // wParam 1 success / 0 failure; lParam: std::wstring or null
constexpr UINT WM_WIZ_AGREEMENT = WM_APP + 4;  // lParam: AgreementPayload
constexpr UINT WM_WIZ_HINTS = WM_APP + 5;      // lParam: HintsDocument
constexpr UINT WM_WIZ_PACKAGE = WM_APP + 6;    // lParam: prog::TotalInfo
constexpr UINT WM_WIZ_FIRST = WM_WIZ_STATUS;
constexpr UINT WM_WIZ_LAST = WM_WIZ_PACKAGE;

struct BarProgress {
  uint64_t done = 0;
  uint64_t total = 0;  // 0: unknown
};

struct AgreementPayload {
  std::wstring version;
  std::wstring text;      // plain text
  std::wstring htmlPath;  // styled HTML file, empty when there is none
};

}  // namespace wizard
