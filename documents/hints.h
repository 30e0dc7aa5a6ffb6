// The hints document: the vendor's JSON that replaces the options page's texts, links and
// recommended models without a new installer, and the built-in values it replaces.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace documents {

// One link of the options page: the text shown and the address opened.
struct HintLink {
  std::wstring label;  // at most 64 characters
  std::wstring url;    // at most 300 characters
};

// One recommended local model.
struct ModelEntry {
  std::wstring tier;   // lower case; the built-in entries use "small", "mid", "large"
  std::wstring label;  // at most 64 characters
  std::wstring url;    // at most 300 characters
};

struct HintsDocument {
  std::wstring dataSourceIntro;
  std::vector<HintLink> dataSources;  // at most 2, market-data links
  std::wstring modelFileNote;
  std::wstring mirrorNote;
  std::wstring helpTitle;  // set only together with helpUrl
  std::wstring helpUrl;    // a link on the vendor's own site
  std::vector<HintLink> links;     // at most 1, model-hub links
  std::vector<ModelEntry> models;  // at most 3, model-hub links
  bool hasContent = false;
};

// Largest hints document the retrieval accepts, in bytes.
constexpr size_t kMaxHintsDocumentBytes = 32768;

// Parses a hints document (UTF-8, optional byte-order mark). The document is reset first; true
// when the text is a JSON object that yields at least one usable part. Never throws.
[[nodiscard]] bool parseHints(const std::string& bytes, HintsDocument& doc);

// The values the wizard starts with and keeps for whatever a document does not replace.
HintsDocument builtInHints();

}  // namespace documents
