#include "applier/applier_ctx.h"
#include "tools/tool.h"

namespace tool {
namespace {

// plan FILE: the plan as the applier reads it, as one line of JSON.
int runPlan(const Args& args) {
  if (args.size() != 1) return fail(L"usage: plan FILE");
  applier::Ctx ctx;
  std::wstring failure;
  if (!loadUpgradePlan(args[0], ctx, &failure)) return fail(failure);
  std::string line = "{\"exe\":" + jsonString(ctx.options.exe) + ",\"pid\":" + jsonString(ctx.options.pid) +
                     ",\"launch\":" + (ctx.options.launch ? "true" : "false") + ",\"items\":[";
  for (size_t i = 0; i < ctx.items.size(); ++i) {
    const UpgradeItem& item = ctx.items[i];
    line += (i ? ",{" : "{");
    line += "\"url\":" + jsonString(item.url) + ",\"sha256\":" + jsonString(item.sha256) +
            ",\"version\":" + jsonString(item.version) + ",\"kind\":" + jsonString(item.kind) +
            ",\"dest\":" + jsonString(item.dest) + "}";
  }
  printLine(line + "]}");
  return 0;
}

}  // namespace

std::vector<Command> applierCommands() { return {{L"plan", "FILE", runPlan}}; }

}  // namespace tool
