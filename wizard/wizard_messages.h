// The wizard's own messages: what the retrieval threads and the uninstall's removal post to the
// window. Each payload is a
// heap object that the window frees after handling (util/payload.h).
#pragma once

#include "prog/job_messages.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace wizard {

// The job's messages come from prog/job_messages.h; these follow them.
constexpr UINT WM_WIZ_AGREEMENT = prog::WM_JOB_NEXT_FREE;      // lParam: AgreementPayload
constexpr UINT WM_WIZ_HINTS = prog::WM_JOB_NEXT_FREE + 1;      // lParam: documents::HintsDocument
constexpr UINT WM_WIZ_UNINSTALLED = prog::WM_JOB_NEXT_FREE + 2;  // lParam: UninstalledPayload
constexpr UINT WM_WIZ_FIRST = WM_WIZ_AGREEMENT;
constexpr UINT WM_WIZ_LAST = WM_WIZ_UNINSTALLED;

struct AgreementPayload {
  std::wstring version;
  std::wstring text;      // plain text
  std::wstring htmlPath;  // styled HTML file, empty when there is none
};

// The end of an in-place uninstall's removal: the closing box's text.
struct UninstalledPayload {
  std::wstring report;
};

}  // namespace wizard
