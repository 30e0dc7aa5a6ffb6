#include "applier/upgrade_rules.h"

#include "applier/texts.h"
#include "util/file_names.h"
#include "util/paths.h"
#include "util/text.h"

#include <algorithm>
#include <cwctype>
#include <limits>

namespace applier {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// ASCII folding on purpose: a kind becomes a marker file name in this form, and
// util::isReservedMarkerName folds the same way, so the two agree on every name.
wchar_t asciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// A name the temporary folder can take as it is: a plain file name with a short extension.
bool isUsableName(const std::wstring& name) {
  if (name.size() < 6 || name.size() > 128) return false;
  const size_t dot = name.find_last_of(L'.');
  if (dot == std::wstring::npos || dot == 0 || name.size() - dot - 1 > 5) return false;
  return util::isSafePathComponent(name);
}

// The extension comes from the same last path piece as the name, never from the host or the
// query: "https://dl.cn/u?f=1" has none and gets ".zip".
std::wstring fallbackName(const std::wstring& lastPiece) {
  const std::wstring zip = L"OrvaloSetup_upgrade.zip";
  const size_t dot = lastPiece.find_last_of(L'.');
  if (dot == std::wstring::npos || lastPiece.size() - dot < 2 || lastPiece.size() - dot > 6) return zip;
  const std::wstring name = L"OrvaloSetup_upgrade" + lastPiece.substr(dot);
  return util::isSafePathComponent(name) ? name : zip;
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
  return kReasonOpen + std::to_wstring(index + 1) + L"/" + std::to_wstring(count) + kReasonClose;
}

std::wstring localPackageName(const std::wstring& url, size_t index, size_t count) {
  const std::wstring path = url.substr(0, url.find_first_of(L"?#"));
  const size_t cut = path.find_last_of(L"\\/");
  const std::wstring candidate = cut == std::wstring::npos ? std::wstring() : path.substr(cut + 1);
  const std::wstring name = isUsableName(candidate) ? candidate : fallbackName(candidate);
  if (count < 2) return name;
  return L"up" + std::to_wstring(index) + L"_" + name;
}


DestinationCheck resolveDestination(const std::wstring& installDir, const std::wstring& dest,
                                    std::wstring& resolved) {
  if (dest.empty()) {
    resolved = installDir;
    return DestinationCheck::kOk;
  }
  if ((dest.size() >= 2 && dest[1] == L':') || isSeparator(dest[0])) {
    resolved = dest;
    return DestinationCheck::kOk;
  }
  std::wstring joined;
  size_t start = 0;
  while (start <= dest.size()) {
    size_t end = start;
    while (end < dest.size() && !isSeparator(dest[end])) ++end;
    const std::wstring segment = dest.substr(start, end - start);
    if (segment == L"..") return DestinationCheck::kParentSegment;
    // Empty and "." pieces name no folder of their own and are harmless; every other piece
    // becomes a folder name.
    if (!segment.empty() && segment != L"." && !util::isSafePathComponent(segment)) {
      return DestinationCheck::kBadName;
    }
    if (!segment.empty()) joined += (joined.empty() ? L"" : L"\\") + segment;
    start = end + 1;
  }
  resolved = appendToFolder(installDir, joined);
  return DestinationCheck::kOk;
}

std::wstring normalizedKind(const std::wstring& kind) {
  if (kind.empty()) return L"main";
  std::wstring lower = kind;
  for (wchar_t& c : lower) c = asciiLower(c);
  return lower;
}

std::wstring componentMarkerName(const std::wstring& kind) { return L"_" + kind + L".done"; }

bool isAcceptableKind(const std::wstring& kind) {
  const std::wstring normalized = normalizedKind(kind);
  // The main program's marker is "_update.done" itself, written by writeUpdateMarker.
  if (normalized == L"main") return true;
  return util::isSafePathComponent(normalized) && !util::isReservedMarkerName(normalized);
}

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
  return clean.size() > 3 && !util::equalsIgnoringCase(clean, installDir) && !util::equalsIgnoringCase(clean, dest);
}

std::wstring appendToFolder(const std::wstring& dir, const std::wstring& name) {
  if (!dir.empty() && isSeparator(dir.back())) return dir + name;
  return dir + L"\\" + name;
}

}  // namespace applier
