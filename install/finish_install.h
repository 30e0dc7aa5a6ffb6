// The steps that end an install once every package is in the install folder: channel file,
// marker files, agreement copy, setup copy, main program, shortcut, registration and the start of
// the client.
#pragma once

#include "install/install_job.h"
#include "packages/manifest.h"
#include "prog/reporter.h"

#include <string>

namespace install {

// The job's result: success naming the client, or the failure of the first step that failed.
prog::JobResult finishInstall(const InstallRequest& request, const ServerManifest& manifest,
                              bool cudaInstalled, prog::Reporter& reporter);

// The client in the install folder: the manifest's exe, or else the first "*.exe" whose name
// contains "orvalo" (any case) and is not the setup copy; empty when there is none.
std::wstring findMainProgram(const std::wstring& installDir, const std::wstring& exeName);

}  // namespace install
