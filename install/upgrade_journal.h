// The journal that makes an upgrade all or nothing. Before a file of the installation is
// replaced or created, a line naming it is appended to update\upgrade.journal and flushed; a
// replaced file is renamed aside (target + ".upg_old", same folder, so the rename is cheap and
// atomic) and the new one, flushed, moved into its place. Undoing follows the journal backwards;
// committing deletes the old copies. Whatever point a crash interrupts, the journal and the files
// beside the targets tell what was done:
//
//   ORVALO-UPGRADE-JOURNAL 1          first line: the format
//   upgrade <text>                    what the upgrade was (for the log)
//   mkdir <folder>                    a folder the upgrade is about to create
//   replace <file>                    an existing file about to be renamed aside
//   create <file>                     a file that did not exist, about to be moved in
//   stage <folder>                    files about to be prepared below the folder (or the install
//                                     folder itself) as <file>.upg_tmp, before any is put in place
//   commit                            everything is in place; only old copies remain to delete
//
// Paths are full paths inside the install folder, one per line, UTF-8. A last line without its
// line feed was never acted on and is ignored; a line naming a path outside the install folder,
// or a file that does not start with the format line, makes the journal untrusted: nothing it
// names is touched. A file put in place twice by one upgrade is named twice, the second time as
// the first: its old copy already holds what was there before the upgrade, so the second time
// the new file simply goes over the first one's.
#pragma once

#include "util/handles.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace install {

class UpgradeJournal {
 public:
  UpgradeJournal() = default;
  UpgradeJournal(const UpgradeJournal&) = delete;
  UpgradeJournal& operator=(const UpgradeJournal&) = delete;
  // A journal neither committed nor rolled back is left on disk for the next start.
  ~UpgradeJournal() = default;

  // Every call below fails with the thread's last error set to the cause.

  // Starts the journal of installDir. Fails when it cannot be written, and when an earlier
  // journal is still there (recoverUpgrade must run first: ERROR_ALREADY_EXISTS).
  [[nodiscard]] bool begin(const std::wstring& installDir, const std::wstring& upgrade);

  // Puts a copy of source in place of target, which lies in the install folder. A read-only
  // target is refused (ERROR_ACCESS_DENIED), as a plain replacement would refuse it.
  [[nodiscard]] bool replace(const std::wstring& source, const std::wstring& target);
  // Puts a prepared file (target + ".upg_tmp", written by the caller after stageBelow) in
  // place of target, as replace does with its copy.
  [[nodiscard]] bool placeStaged(const std::wstring& target);
  // The same for many prepared files whose data the caller has already forced to disk: one
  // flushed write names them all, then each goes in place, placed(i) after each. A read-only
  // target refuses the batch before anything of it is done. On failure failedAt names the file.
  [[nodiscard]] bool placeStagedAll(const std::vector<std::wstring>& targets,
                                    const std::function<void(size_t)>& placed, size_t& failedAt);
  // Announces that files are about to be prepared below folder: undoing removes every
  // "*.upg_tmp" below it, after the folders the upgrade made are gone or before they go.
  [[nodiscard]] bool stageBelow(const std::wstring& folder);
  // The same with bytes for content (marker files).
  [[nodiscard]] bool write(const std::wstring& target, const std::string& bytes);
  // Creates the folder and every missing level, each journaled.
  [[nodiscard]] bool makeFolder(const std::wstring& folder);

  // Everything is in place: the journal says so and is closed. The old copies and the journal
  // stay until recoverUpgrade deletes them, so that nobody waits for the deletions. False (and
  // nothing done) when the line cannot be written: the upgrade must then roll back.
  [[nodiscard]] bool markCommitted();
  // markCommitted, then the old copies are deleted and the journal removed; rolls back when the
  // journal cannot be marked. An old copy that cannot be deleted stays, and with it the journal,
  // for the next start to finish.
  void commit();
  // Puts everything back as it was and removes the journal.
  void rollback();

  bool active() const { return file_.valid(); }

 private:
  bool append(const char* kind, const std::wstring& path);
  bool appendLines(const std::string& lines);

  std::wstring installDir_;
  std::wstring path_;
  util::FileHandle file_;
  // Every file this upgrade has named (normalized path) and whether it replaced one.
  std::map<std::wstring, bool> named_;
};

// What the next start found in an installation.
enum class Recovery { kNone, kRolledBack, kCommitted, kUntrusted };

// Finishes what an interrupted upgrade left in installDir: rolls back an upgrade that had not
// committed, completes one that had. Called before anything else touches the installation.
Recovery recoverUpgrade(const std::wstring& installDir);

// The journal's path for an install folder.
std::wstring upgradeJournalPath(const std::wstring& installDir);

}  // namespace install
