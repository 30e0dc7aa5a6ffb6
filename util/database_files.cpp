#include "util/database_files.h"

#include "util/client_contract.h"
#include "util/paths.h"
#include "util/text.h"

namespace {

template <size_t N>
bool endsWithDatabase(const std::wstring& name, const wchar_t* suffix, const wchar_t* const (&companions)[N]) {
  if (util::endsWithIgnoringCase(name, suffix)) return true;
  for (const wchar_t* companion : companions) {
    if (util::endsWithIgnoringCase(name, suffix + std::wstring(companion))) return true;
  }
  return false;
}

}  // namespace

bool isDatabaseFile(const std::wstring& path) {
  const std::wstring name = util::fileNameOf(path);
  return endsWithDatabase(name, client::kDbSuffix, client::kDbCompanionSuffixes) ||
         endsWithDatabase(name, client::kDuckDbSuffix, client::kDuckDbCompanionSuffixes);
}
