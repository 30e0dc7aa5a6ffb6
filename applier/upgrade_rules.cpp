#include "applier/upgrade_rules.h"

#include "util/paths.h"

#include <algorithm>
#include <cwctype>
#include <limits>

namespace applier {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t asciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// A name the temporary folder can take as it is: a plain file name with a short extension.
bool isUsableName(const std::wstring& name) {
  if (name.size() < 6 || name.size() > 128) return false;
  const size_t dot = name.find_last_of(L'.');
  if (dot == std::wstring::npos || dot == 0 || name.size() - dot - 1 > 5) return false;
  return name.find_first_of(L"\"*:<>?|") == std::wstring::npos;
}

std::wstring fallbackName(const std::wstring& url) {
  std::wstring extension = L".zip";
  const size_t query = url.find_first_of(L"?#");
  const size_t dot = url.find_last_of(L'.');
  if (query != std::wstring::npos && dot != std::wstring::npos && dot < query && query - dot < 7) {
    extension = url.substr(dot, query - dot);
  }
  return L"OrvaloSetup_upgrade" + extension;
}

}  // namespace

bool installFolderOf(const std::wstring& exe, std::wstring& folder) {
  const size_t cut = exe.find_last_of(L"\\/");
  if (exe.empty() || cut == std::wstring::npos) return false;
  folder = exe.substr(0, cut);
  return true;
}

std::wstring packageCounterSuffix(size_t index, size_t count) {
  if (count < 2) return {};
  return L"（" + std::to_wstring(index + 1) + L"/" + std::to_wstring(count) + L"）";
}

std::wstring localPackageName(const std::wstring& url, size_t index, size_t count) {
  const std::wstring path = url.substr(0, url.find_first_of(L"?#"));
  const size_t cut = path.find_last_of(L"\\/");
  const std::wstring candidate = cut == std::wstring::npos ? std::wstring() : path.substr(cut + 1);
  const std::wstring name = isUsableName(candidate) ? candidate : fallbackName(url);
  if (count < 2) return name;
  return L"up" + std::to_wstring(index) + L"_" + name;
}

std::wstring extractionFolderName(size_t index, size_t count) {
  std::wstring name = L"OrvaloSetup_upgrade_x";
  if (count >= 2) name += std::to_wstring(index);
  return name;
}

bool resolveDestination(const std::wstring& installDir, const std::wstring& dest,
                        std::wstring& resolved) {
  if (dest.empty()) {
    resolved = installDir;
    return true;
  }
  if ((dest.size() >= 2 && dest[1] == L':') || isSeparator(dest[0])) {
    resolved = dest;
    return true;
  }
  std::wstring joined;
  size_t start = 0;
  while (start <= dest.size()) {
    size_t end = start;
    while (end < dest.size() && !isSeparator(dest[end])) ++end;
    const std::wstring segment = dest.substr(start, end - start);
    if (segment == L"..") return false;
    if (!segment.empty()) joined += (joined.empty() ? L"" : L"\\") + segment;
    start = end + 1;
  }
  resolved = appendToFolder(installDir, joined);
  return true;
}

std::wstring normalizedKind(const std::wstring& kind) {
  if (kind.empty()) return L"main";
  std::wstring lower = kind;
  for (wchar_t& c : lower) c = asciiLower(c);
  return lower;
}

std::wstring componentMarkerName(const std::wstring& kind) { return L"_" + kind + L".done"; }

unsigned long parseProcessId(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(text[i])) ++i;
  unsigned long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    // wcstol saturates at LONG_MAX; no process has such an id, so the value is simply no id.
    if (value > static_cast<unsigned long long>(std::numeric_limits<long>::max())) return 0;
  }
  return static_cast<unsigned long>(value);
}

bool isSameProgramPath(const std::wstring& image, const std::wstring& exe) {
  const auto key = [](std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return util::normalizePathKey(path);
  };
  return !exe.empty() && key(image) == key(exe);
}

bool mayDeleteCleanFolder(const std::wstring& clean, const std::wstring& installDir,
                          const std::wstring& dest) {
  return clean.size() > 3 && !equalsIgnoringCase(clean, installDir) && !equalsIgnoringCase(clean, dest);
}

std::wstring appendToFolder(const std::wstring& dir, const std::wstring& name) {
  if (!dir.empty() && isSeparator(dir.back())) return dir + name;
  return dir + L"\\" + name;
}

}  // namespace applier
