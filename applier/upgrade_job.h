// The upgrade job: fetches and verifies every package, waits for the client, snapshots the
// databases, puts the content in place, records the versions and restarts the client, also when
// putting the content in place failed after the client was closed. It knows no window: it
// reports through a sink and ends with its result.
#pragma once

#include "applier/applier_ctx.h"
#include "prog/job.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace applier {

struct UpgradeRequest {
  std::vector<UpgradeItem> items;  // in plan order; at least one
  std::wstring exe;                // the installed client
  bool launch = true;              // start the client again at the end
  // The running client, when the helper found it (not owned): waited for, then ended.
  HANDLE client = nullptr;
  // Set while the files of the installation are being replaced (may be null).
  std::atomic<bool>* applying = nullptr;
};

// The request of a helper run: the plan's items, or the command line's single item.
UpgradeRequest upgradeRequestOf(Ctx& ctx);

// Runs the whole upgrade on the calling thread.
prog::JobResult runUpgradeJob(const UpgradeRequest& request, prog::JobSink& sink);

}  // namespace applier
