#include "documents/hints.h"

#include "documents/link_allowlist.h"
#include "documents/texts.h"
#include "documents/vendor_domain.h"
#include "util/text.h"

#include <nlohmann/json.hpp>

#include <cwctype>

namespace documents {
namespace {

using Json = nlohmann::json;

constexpr size_t kMaxIntro = 400;
constexpr size_t kMaxModelFileNote = 400;
constexpr size_t kMaxMirrorNote = 120;
constexpr size_t kMaxLabel = 64;
constexpr size_t kMaxUrl = 300;
constexpr size_t kMaxDataSources = 2;
constexpr size_t kMaxLinks = 1;
constexpr size_t kMaxModels = 3;

// Cuts to at most limit UTF-16 code units. A surrogate pair split by the cut would leave half a
// character that renders as garbage, so its first half goes too.
std::wstring cut(std::wstring text, size_t limit) {
  if (text.size() > limit) {
    text.resize(limit);
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
  }
  return text;
}

// The trimmed text of container[key]. A container that is no object, a missing key and a value
// of another JSON type all read as the empty string, so odd documents never stop the parse.
std::wstring stringAt(const Json& container, const char* key) {
  if (!container.is_object()) return {};
  const auto it = container.find(key);
  if (it == container.end() || !it->is_string()) return {};
  return util::trimBlanks(util::toWide(util::kCodePageUtf8, it->get_ref<const std::string&>()));
}

// container[key] when container is an object that has it, else null.
const Json* memberOf(const Json& container, const char* key) {
  if (!container.is_object()) return nullptr;
  const auto it = container.find(key);
  return it == container.end() ? nullptr : &*it;
}

// Reads link or model entries: the first maxCount valid objects of an array. Skipped elements do
// not count, so a broken first entry does not hide a good later one.
std::vector<ModelEntry> readEntries(const Json* list, size_t maxCount, int kind,
                                    const char* detailKey, bool withTier) {
  std::vector<ModelEntry> entries;
  if (list == nullptr || !list->is_array()) return entries;
  for (const Json& element : *list) {
    if (entries.size() >= maxCount) break;
    if (!element.is_object()) continue;
    const std::wstring name = stringAt(element, "name");
    const std::wstring detail = stringAt(element, detailKey);
    const std::wstring url = stringAt(element, "url");
    if (name.empty() || url.empty() || !isAllowedLink(url, kind)) continue;
    ModelEntry entry;
    if (withTier) {
      entry.tier = stringAt(element, "tier");
      for (wchar_t& c : entry.tier) c = static_cast<wchar_t>(std::towlower(c));
    }
    entry.label = cut(detail.empty() ? name : name + L"（" + detail + L"）", kMaxLabel);
    entry.url = cut(url, kMaxUrl);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<HintLink> readLinks(const Json* list, size_t maxCount, int kind) {
  std::vector<HintLink> links;
  for (ModelEntry& e : readEntries(list, maxCount, kind, "desc", false)) {
    links.push_back({std::move(e.label), std::move(e.url)});
  }
  return links;
}

bool computeHasContent(const HintsDocument& doc) {
  return !doc.dataSourceIntro.empty() || !doc.dataSources.empty() || !doc.modelFileNote.empty() ||
         !doc.mirrorNote.empty() || (!doc.helpTitle.empty() && !doc.helpUrl.empty()) ||
         !doc.links.empty() || !doc.models.empty();
}

void readDataSource(const Json& section, HintsDocument& doc) {
  doc.dataSourceIntro = cut(stringAt(section, "intro"), kMaxIntro);
  doc.dataSources = readLinks(memberOf(section, "items"), kMaxDataSources, kLinkKindMarketData);
}

void readLocalLlm(const Json& section, HintsDocument& doc) {
  doc.modelFileNote = cut(stringAt(section, "hint"), kMaxModelFileNote);
  doc.mirrorNote = cut(stringAt(section, "note"), kMaxMirrorNote);
  const std::wstring guide = stringAt(section, "guideUrl");
  if (!guide.empty() && isAllowedLink(guide, kLinkKindVendor)) {
    doc.helpUrl = cut(guide, kMaxUrl);
    doc.helpTitle = kHintsHelpTitle;
  }
  doc.links = readLinks(memberOf(section, "items"), kMaxLinks, kLinkKindModelHub);
  doc.models = readEntries(memberOf(section, "models"), kMaxModels, kLinkKindModelHub, "size", true);
}

}  // namespace

bool parseHints(const std::string& bytes, HintsDocument& doc) {
  doc = HintsDocument{};
  size_t start = 0;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;

  // The parser is told not to throw; a syntax error yields a discarded value. The catch only
  // guards the caller's thread should the library throw anyway.
  Json root;
  try {
    root = Json::parse(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end(), nullptr, false);
  } catch (const Json::exception&) {
    return false;
  }
  if (root.is_discarded() || !root.is_object()) return false;

  if (const Json* section = memberOf(root, "datasource")) readDataSource(*section, doc);
  if (const Json* section = memberOf(root, "local_llm")) readLocalLlm(*section, doc);
  doc.hasContent = computeHasContent(doc);
  return doc.hasContent;
}

HintsDocument builtInHints() {
  const std::wstring modelSearch = L"https://modelscope.cn/models?name=";
  HintsDocument doc;
  doc.dataSourceIntro = kHintsDataSourceIntro;
  doc.dataSources = {
      {kHintsTdxLabel, L"https://www.tdx.com.cn/"},
      {kHintsMyquantLabel, L"https://www.myquant.cn/"},
  };
  doc.modelFileNote = kHintsModelFileNote;
  doc.mirrorNote = kHintsMirrorNote;
  doc.helpTitle = kHintsHelpTitle;
  doc.helpUrl = std::wstring(L"https://www.") + vendorDomain() + L"/manual/ai.html#local-model";
  doc.models = {
      {L"small", kHintsSmallModelLabel, modelSearch + L"Qwen3-1.7B-GGUF"},
      {L"mid", kHintsMidModelLabel, modelSearch + L"Qwen3-8B-GGUF"},
      {L"large", kHintsLargeModelLabel, modelSearch + L"Qwen3-32B-GGUF"},
  };
  doc.hasContent = true;
  return doc;
}

}  // namespace documents
