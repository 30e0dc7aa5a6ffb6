#include "util/installation.h"

#include "util/client_contract.h"
#include "util/database_files.h"
#include "util/text.h"

namespace util {

bool looksLikeInstallation(const InstallEvidence& evidence) {
  if (evidence.registered) return true;
  return evidence.setupCopy && (evidence.channelFile || evidence.markerDir);
}

bool isKeptUserEntry(const std::wstring& relativePath, bool isFolder) {
  if (!isFolder) return isDatabaseFile(relativePath);
  // Only the folder the upgrade writes its snapshots to; a "backup" deeper down goes like any
  // other folder, except for the databases in it.
  return equalsIgnoringCase(relativePath, client::kBackupDirName);
}

}  // namespace util
