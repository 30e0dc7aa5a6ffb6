// The install job: fetches the server's manifest, downloads, verifies and unpacks every package
// into the install folder and finishes the installation. It knows no window: it reports through
// a sink and ends with its result, so the wizard, an unattended install and the tests run the
// same job.
#pragma once

#include "net/download.h"
#include "prog/job.h"

#include <string>

namespace install {

struct InstallRequest {
  std::wstring baseUrl;     // the download server; empty: the built-in one
  std::wstring installDir;  // already checked and in its full form
  bool gpuCapable = false;
  bool cudaRequested = false;
  bool createShortcut = true;
  bool launch = true;  // start the client at the end
  // The agreement the user accepted, kept in the install folder, and its version.
  std::wstring agreementText;
  std::wstring agreementVersion;
};

// Runs the whole install on the calling thread. The result names the client it found (and
// started, unless the request says not to).
prog::JobResult runInstall(const InstallRequest& request, prog::JobSink& sink, CancelEvent cancel);

}  // namespace install
