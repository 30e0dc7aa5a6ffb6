#include "uninstall/uninstall_rules.h"

#include "util/paths.h"
#include "util/quote.h"

namespace uninstall {

bool isFolderTooShort(const std::wstring& folder) { return folder.size() < kMinFolderLength; }

bool looksLikeInstallation(const InstallEvidence& evidence) {
  if (evidence.registered) return true;
  return evidence.setupCopy && (evidence.channelFile || evidence.markerDir);
}

bool runsFromInside(const std::wstring& moduleDir, const std::wstring& installDir) {
  // A plain prefix test would also hand over for a sibling such as "D:\Orvalo2" beside
  // "D:\Orvalo"; the folder itself or a real sub-folder is what matters.
  return util::normalizePathKey(moduleDir) == util::normalizePathKey(installDir) ||
         util::isPathInside(moduleDir, installDir);
}

std::wstring workerParameters(const std::wstring& installDir, bool purgeData) {
  std::wstring parameters = L"--uninstall-worker " + util::quoteArgument(installDir);
  if (purgeData) parameters += L" --purge-data";
  return parameters;
}

std::wstring selfDeleteCommand(const std::wstring& exePath) {
  // The shell's own quoting, not the argument splitter's: cmd takes the quoted path literally.
  return L"cmd.exe /c ping -n 3 127.0.0.1 >nul & del /f /q \"" + exePath + L"\"";
}

std::vector<size_t> processesToEnd(const std::vector<ProcessImage>& processes,
                                   const std::wstring& installDir, uint32_t selfPid) {
  std::vector<size_t> chosen;
  for (size_t i = 0; i < processes.size(); ++i) {
    const ProcessImage& p = processes[i];
    if (p.pid != selfPid && util::isPathInside(p.imagePath, installDir)) chosen.push_back(i);
  }
  return chosen;
}

}  // namespace uninstall
