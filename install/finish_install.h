// The steps that end an install once every package is in the install folder: channel file,
// marker files, agreement copy, setup copy, main program, shortcut, registration and the start of
// the client. Ends the job with its WM_WIZ_DONE, success or failure.
#pragma once

#include "packages/manifest.h"
#include "prog/reporter.h"

#include <windows.h>

namespace wizard {

struct Ctx;

void finishInstall(Ctx& ctx, HWND window, const ServerManifest& manifest, bool cudaInstalled,
                   prog::Reporter& reporter);

// The client in the install folder: the manifest's exe, or else the first "*.exe" whose name
// contains "orvalo" (any case) and is not the setup copy; empty when there is none.
std::wstring findMainProgram(const std::wstring& installDir, const std::wstring& exeName);

}  // namespace wizard
