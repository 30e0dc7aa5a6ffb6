#include "uninstall/uninstall_rules.h"

#include "uninstall/texts.h"
#include "util/paths.h"
#include "util/quote.h"
#include "util/text.h"

namespace uninstall {

bool isFolderTooShort(const std::wstring& folder) { return folder.size() < kMinFolderLength; }

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

ShellCommand selfDeleteCommand(const std::wstring& exePath, const std::wstring& systemDir) {
  ShellCommand command;
  command.application = systemDir + L"\\cmd.exe";
  // The shell's own quoting, not the argument splitter's: cmd takes the quoted paths literally.
  // A /c line that begins with a quote loses its first and its last quote to cmd, hence the
  // extra pair around the whole line.
  command.commandLine = L"\"" + command.application + L"\" /c \"\"" + systemDir +
                        L"\\ping.exe\" -n 3 127.0.0.1 >nul & del /f /q \"" + exePath + L"\"\"";
  return command;
}

std::wstring removalReport(const RemovalResult& result, const std::wstring& installDir,
                           Remover remover) {
  std::wstring text = result.complete                  ? kRemoved
                      : remover == Remover::InPlace ? kPartlyRemovedHere
                                                    : kPartlyRemovedByWorker;
  if (result.keptUserFiles) text += kKeptPrefix + installDir;
  return text;
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
