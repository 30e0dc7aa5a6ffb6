#include "applier/applier_ctx.h"
#include "applier/texts.h"
#include "applier/upgrade_rules.h"
#include "packages/manifest.h"
#include "util/client_contract.h"
#include "util/files.h"
#include "util/text.h"

#include <nlohmann/json.hpp>

#include <windows.h>

namespace {


bool fail(std::wstring* errorText, const std::wstring& text) {
  if (errorText) *errorText = text;
  return false;
}

// A key of the wrong JSON type makes value() throw, which the caller turns into a parse failure.
std::wstring stringValue(const nlohmann::json& object, const char* key) {
  return util::toWide(util::kCodePageUtf8, object.value(key, std::string()));
}

}  // namespace

bool parseUpgradePlan(const std::string& bytes, UpgradePlan& plan, std::wstring* errorText) {
  if (bytes.empty() || bytes.size() > client::kMaxPlanBytes) return fail(errorText, applier::kPlanBadSize);
  UpgradePlan parsed;
  // The JSON library reports syntax and type errors only by exceptions; none may leave here.
  try {
    const nlohmann::json root = nlohmann::json::parse(bytes, nullptr, true, false);
    if (!root.is_object()) return fail(errorText, applier::kPlanNoItems);
    const auto items = root.find("items");
    if (items == root.end() || !items->is_array() || items->empty()) return fail(errorText, applier::kPlanNoItems);

    parsed.exe = stringValue(root, "exe");
    parsed.pid = stringValue(root, "pid");
    parsed.launch = root.value("launch", true);
    for (const nlohmann::json& element : *items) {
      UpgradeItem item;
      item.kind = stringValue(element, "kind");
      item.url = stringValue(element, "url");
      item.sha256 = stringValue(element, "sha256");
      item.version = stringValue(element, "version");
      item.dest = stringValue(element, "dest");
      item.index = stringValue(element, "index");
      item.indexSha256 = manifestDigest(stringValue(element, "index_sha256"));
      if (item.url.empty()) return fail(errorText, applier::kPlanItemWithoutUrl);
      std::wstring problem;
      if (!checkPackageIndexRef(item.kind, item.index, item.indexSha256, problem)) {
        return fail(errorText, applier::kPlanBadIndex + item.index);
      }
      // The kind names a marker file: a plan that would write outside the marker folder or over
      // another package's marker is refused as a whole.
      if (!applier::isAcceptableKind(item.kind)) return fail(errorText, applier::kPlanBadKind + item.kind);
      parsed.items.push_back(std::move(item));
    }
  } catch (const nlohmann::json::exception& e) {
    return fail(errorText, applier::kPlanParseFailed + util::toWide(util::kCodePageUtf8, e.what()));
  }
  plan = std::move(parsed);
  return true;
}

UpgradeItem commandLineItem(const applier::UpgradeOptions& options) {
  UpgradeItem item;
  item.url = options.url;
  item.sha256 = options.sha256;
  item.version = options.version;
  item.kind = options.kind;
  item.dest = options.dest;
  item.src = options.src;
  item.clean = options.clean;
  return item;
}

bool loadUpgradePlan(const std::wstring& path, applier::Ctx& ctx, std::wstring* errorText) {
  std::string bytes;
  if (!util::readFile(path, bytes, client::kMaxPlanBytes)) {
    if (GetLastError() == ERROR_FILE_TOO_LARGE) return fail(errorText, applier::kPlanBadSize);
    return fail(errorText, applier::kPlanUnreadable + path);
  }
  UpgradePlan plan;
  if (!parseUpgradePlan(bytes, plan, errorText)) return false;
  ctx.options.exe = plan.exe;
  ctx.options.pid = plan.pid;
  ctx.options.launch = plan.launch;
  ctx.items = std::move(plan.items);
  return true;
}
