#include "documents/hints_retrieval.h"

#include "documents/link_allowlist.h"
#include "net/document.h"
#include "net/sha256.h"

namespace documents {

bool loadHints(const std::wstring& url, const std::string& expectedDigest, HintsDocument& doc,
               CancelEvent cancelEvent) {
  // The document decides which links the wizard offers: it is taken from the vendor alone.
  if (!isAllowedLink(url, kLinkKindVendor)) return false;
  std::string bytes;
  if (!fetchDocument(url, kMaxHintsDocumentBytes, bytes, cancelEvent).ok() || bytes.empty()) return false;
  if (!expectedDigest.empty() && sha256Hex(bytes) != expectedDigest) return false;
  return parseHints(bytes, doc);
}

}  // namespace documents
