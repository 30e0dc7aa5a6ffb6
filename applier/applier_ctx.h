// The state of one upgrade run, shared by the helper's window thread and the upgrade job, and the
// plan that fills it. Private to the applier and its tests.
#pragma once

#include "applier/upgrade_options.h"
#include "prog/window_job.h"
#include "util/handles.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// One package to apply. url, sha256, version, kind and dest come from a plan item or the command
// line; src and clean name the downloaded content and its extraction folder, filled in by the
// job (or given on the command line, which names content already in place).
struct UpgradeItem {
  std::wstring url;
  std::wstring sha256;
  // The package's index and its digest (lower case), both or neither; carried, not yet used.
  std::wstring index;
  std::string indexSha256;
  std::wstring version;
  std::wstring kind;
  std::wstring dest;
  std::wstring src;
  std::wstring clean;
};

// The single package of a run without a plan.
UpgradeItem commandLineItem(const applier::UpgradeOptions& options);

// A parsed plan file: the root's values and the items, in plan order.
struct UpgradePlan {
  std::wstring exe;
  std::wstring pid;
  bool launch = true;
  std::vector<UpgradeItem> items;
};

namespace applier {

struct UpgradeRequest;
// The job the window runs: runUpgradeJob, unless a test creates the window with its own.
using JobFunction = std::function<prog::JobResult(const UpgradeRequest&, prog::JobSink&)>;

struct Ctx {
  UpgradeOptions options;          // exe, pid and launch replaced by a loaded plan
  std::vector<UpgradeItem> items;  // empty without a plan
  std::atomic<bool> finished{false};  // the window received the job's end message
  std::atomic<bool> applying{false};  // the job is replacing the installation's files
  bool succeeded = false;          // the job's result, once finished
  // The running client, opened by the helper before the job starts and only when its image is
  // options.exe; empty when the client is gone. Holding it keeps its id from passing to another
  // program while the packages download.
  util::Handle client;
  prog::WindowJob worker;
  util::GdiObject font;  // the window's controls' font
  // What the window starts, as createUpgradeWindow was given it.
  JobFunction job;
};

}  // namespace applier

// Reads the plan file at path into ctx (options.exe, options.pid, options.launch and items).
// False with errorText (when given) set to the reason; the caller then abandons ctx.
[[nodiscard]] bool loadUpgradePlan(const std::wstring& path, applier::Ctx& ctx, std::wstring* errorText);

// The same rules for the plan's bytes, for callers that hold them already.
[[nodiscard]] bool parseUpgradePlan(const std::string& bytes, UpgradePlan& plan, std::wstring* errorText);
