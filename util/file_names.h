// The one rule for text that becomes a file or folder name: server manifests, zip entries and
// upgrade plans all hand us names, and each must stay one harmless component of a path.
#pragma once

#include <string>

namespace util {

// True for one component Windows takes literally. Refused: empty, "." and "..", a separator
// ('\', '/'), a colon (drive letters, alternate data streams), any of < > " | ? *, a control
// character, a trailing dot or blank (Windows drops them, so two names would meet), and the
// device names CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with the superscript
// digits 1-3), in any letter case and with any extension ("nul.txt", "com1.tar.gz").
bool isSafePathComponent(const std::wstring& name);

// The component a marker file is named after that some other marker already uses: "component",
// "update" or "agreement" in any letter case ("_update.done" belongs to the main program).
bool isReservedMarkerName(const std::wstring& name);

}  // namespace util
