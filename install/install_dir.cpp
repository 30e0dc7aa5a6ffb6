#include "install/install_dir.h"

#include "install/registration.h"
#include "install/texts.h"
#include "util/client_contract.h"
#include "util/files.h"
#include "util/installation.h"
#include "util/paths.h"
#include "util/product.h"
#include "util/text.h"

#include <windows.h>

namespace install {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool isAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

InstallDirCheck refuse(const std::wstring& message) { return {false, {}, message}; }

// Length of the root: "X:\" (3) for a drive path, "\\server\share" for a network share; 0 when
// the text is not written out in full (relative, drive-relative "D:x", rooted "\x", or a device
// path such as "\\?\").
size_t absoluteRootLength(const std::wstring& path) {
  if (path.size() >= 3 && isAsciiLetter(path[0]) && path[1] == L':' && isSeparator(path[2])) return 3;
  if (path.size() < 3 || !isSeparator(path[0]) || !isSeparator(path[1])) return 0;
  if (path[2] == L'?' || path[2] == L'.' || isSeparator(path[2])) return 0;
  const size_t serverEnd = path.find_first_of(L"\\/", 2);
  if (serverEnd == std::wstring::npos || serverEnd + 1 >= path.size()) return 0;
  const size_t shareEnd = path.find_first_of(L"\\/", serverEnd + 1);
  return shareEnd == std::wstring::npos ? path.size() : shareEnd;
}

bool hasBadCharacters(const std::wstring& path, size_t rootLength) {
  // The drive's colon is part of the root; anywhere else these make no valid folder name.
  for (size_t i = rootLength; i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c < 32 || std::wstring(L"<>:\"|?*").find(c) != std::wstring::npos) return true;
  }
  return false;
}

// Normalised and without trailing separators, except the "X:\" of a drive root.
std::wstring normalised(const std::wstring& path) {
  std::wstring full = util::fullPath(path);
  util::trimTrailingSeparators(full);
  return full;
}

// What an uninstall that kept the user's data leaves (its databases and the snapshot folder) may
// be installed into again; a folder holding them and nothing else is the product's. keptSeen
// tells whether any was found: empty folders alone prove nothing.
bool holdsOnlyKeptUserData(const std::wstring& folder, const std::wstring& relative, bool& keptSeen) {
  return util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring rel = relative.empty() ? std::wstring(data.cFileName) : relative + L"\\" + data.cFileName;
    if (util::isKeptUserEntry(rel, isFolder)) {
      keptSeen = true;
      return true;
    }
    return isFolder && util::isWalkableFolder(data) && holdsOnlyKeptUserData(path, rel, keptSeen);
  });
}

bool holdsOnlyKeptUserData(const std::wstring& folder) {
  bool keptSeen = false;
  return holdsOnlyKeptUserData(folder, {}, keptSeen) && keptSeen;
}

bool isProductFolder(const std::wstring& dir, const std::wstring& registeredDir) {
  if (!registeredDir.empty() && util::normalizePathKey(normalised(registeredDir)) == util::normalizePathKey(dir)) {
    return true;
  }
  // The install job creates the marker folder before it writes anything else, so a folder an
  // earlier, failed or cancelled attempt began to fill is recognised as well.
  return util::isExistingFile(util::joinPath(dir, client::kChannelFileName)) ||
         util::isExistingFolder(util::joinPath(dir, client::kMarkerDirName)) ||
         holdsOnlyKeptUserData(dir);
}

bool isEmptyFolder(const std::wstring& dir) {
  return util::forEachEntry(dir, [](const std::wstring&, const WIN32_FIND_DATAW&) { return false; });
}

}  // namespace

InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder,
                                   const InstallDirContext& context) {
  std::wstring typed = util::trimBlanks(text);
  if (typed.empty()) return refuse(kDirEmpty);
  // "D:" alone means the drive, not the current folder on it.
  if (typed.size() == 2 && isAsciiLetter(typed[0]) && typed[1] == L':') typed += L'\\';
  const size_t root = absoluteRootLength(typed);
  if (root == 0) return refuse(kDirNotAbsolute);
  if (hasBadCharacters(typed, root)) return refuse(kDirBadCharacters);

  std::wstring dir = normalised(typed);
  if (dir.empty()) return refuse(kDirNotAbsolute);
  if (createSubfolder) dir = util::joinPath(dir.back() == L'\\' ? dir.substr(0, dir.size() - 1) : dir, product::kLatinName);
  if (absoluteRootLength(dir) >= dir.size()) return refuse(kDirDriveRoot);
  if (!context.localAppData.empty() && util::normalizePathKey(dir) == util::normalizePathKey(normalised(context.localAppData))) {
    return refuse(kDirLocalAppDataRoot);
  }

  const DWORD attrs = GetFileAttributesW(dir.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) {
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return refuse(kDirIsAFile);
    if (!isEmptyFolder(dir) && !isProductFolder(dir, context.registeredDir)) {
      return refuse(kDirNotEmptyPrefix + dir + kDirNotEmptyAdvice);
    }
  }
  return {true, dir, {}};
}

InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder) {
  return validateInstallDir(text, createSubfolder, {util::localAppDataDirectory(), readInstallLocation()});
}

std::wstring defaultInstallDir(const std::wstring& localAppData) {
  return localAppData + L"\\Programs\\" + product::kLatinName;
}

}  // namespace install
