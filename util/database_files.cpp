#include "util/database_files.h"

#include <cwctype>

namespace {

constexpr const wchar_t* kDatabaseSuffixes[] = {L".db",     L".db-journal", L".db-wal",
                                                L".db-shm", L".duckdb",     L".duckdb.wal"};

bool endsWithIgnoringCase(const std::wstring& text, const std::wstring& suffix) {
  if (text.size() < suffix.size()) return false;
  const size_t offset = text.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (std::towlower(text[offset + i]) != std::towlower(suffix[i])) return false;
  }
  return true;
}

}  // namespace

bool isDatabaseFile(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  const std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
  for (const wchar_t* suffix : kDatabaseSuffixes) {
    if (endsWithIgnoringCase(name, suffix)) return true;
  }
  return false;
}
