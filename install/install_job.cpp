#include "install/install_job.h"

#include "install/finish_install.h"
#include "install/markers.h"
#include "install/package_list.h"
#include "install/texts.h"
#include "install/upgrade_journal.h"
#include "net/download.h"
#include "net/http_connection.h"
#include "packages/delta_fetch.h"
#include "packages/manifest.h"
#include "packages/texts.h"
#include "packages/zip_place.h"
#include "prog/debug_log.h"
#include "prog/reporter.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"

#include <mutex>
#include <set>
#include <vector>

namespace install {
namespace {

// Suffix of a file that is not a zip while it downloads beside its place in the install folder.
constexpr wchar_t kDownloadSuffix[] = L".download";

// One run of the job: the request, the cancel event and the reporter that feeds the sink.
class InstallRun {
 public:
  InstallRun(const InstallRequest& request, prog::JobSink& sink, CancelEvent cancel)
      : request_(request), cancel_(cancel), reporter_(sink) {}

  prog::JobResult run();

 private:
  bool cancelled() const { return isCancelSignalled(cancel_); }
  // Ends the job with that failure; returns false for the callers' convenience.
  bool fail(util::Failure failure) {
    result_ = prog::jobFailed(std::move(failure));
    return false;
  }
  bool fail(prog::FailureKind kind, const std::wstring& text) { return fail(util::failure(kind, text)); }
  // A failure of a step the user cancelled meanwhile is the cancel, whichever step noticed it.
  bool failUnlessCancelled(util::Failure failure) { return fail(util::cancelledOr(cancelled(), std::move(failure))); }
  // A cancel check: true (and the job ended) when the user cancelled.
  bool stopIfCancelled() {
    if (!cancelled()) return false;
    fail(util::cancelledFailure());
    return true;
  }
  static std::wstring stageText(const wchar_t* verb, const std::wstring& label) {
    return verb + label + kStageEllipsis;
  }
  // size: the package's as its server told it (0: unknown).
  bool installPackage(const PackageItem& item, bool last, uint64_t size);
  // How files go in place: renamed over their targets, or under the journal when it runs.
  PlaceHooks placeHooks();
  // Repairs a zip package with an index by its changed entries; `whole` asks for the package.
  bool repairPackage(const PackageItem& item, uint64_t size, bool& whole);
  bool finishPending();
  void runSteps();

  const InstallRequest& request_;
  CancelEvent cancel_;
  prog::Reporter reporter_;
  prog::JobResult result_;
  // The folder holds the version being installed: its packages are compared, not replaced.
  bool repair_ = false;
  // Over an existing installation every package's files are first prepared beside their places,
  // then all of them go in place at once under the journal, so that a failure at any file puts
  // back all that went before it; a fresh install keeps what it wrote.
  UpgradeJournal journal_;
  std::mutex journalLock_;  // written by the job and by the unpacking thread
  std::vector<std::wstring> staged_;  // the prepared files' targets, in plan order
  // Puts the prepared files in place; false (and the job ended) when one cannot be.
  bool placeStaged();
  ExtractionThread pending_;  // the packages before, unpacking while this one downloads
};

bool InstallRun::finishPending() {
  util::Failure failure;
  const auto unpacking = [this](const std::wstring& label) {
    reporter_.setStage(stageText(kExtractingStage, label), prog::kPhaseExtract);
  };
  if (pending_.finish(failure, unpacking)) return true;
  return failUnlessCancelled(std::move(failure));
}

PlaceHooks InstallRun::placeHooks() {
  PlaceHooks hooks;
  if (!journal_.active()) return hooks;
  hooks.makeFolder = [this](const std::wstring& folder) {
    std::lock_guard<std::mutex> hold(journalLock_);
    return journal_.makeFolder(folder);
  };
  hooks.placeFile = [this](const std::wstring&, const std::wstring& target) {
    std::lock_guard<std::mutex> hold(journalLock_);
    staged_.push_back(target);
    return true;
  };
  hooks.concurrent = false;
  hooks.flushStaged = true;  // the journal names them all at once, with their data on disk
  return hooks;
}

bool InstallRun::placeStaged() {
  // A later package that prepared a file again replaced the earlier one's: it goes in place once.
  std::vector<std::wstring> targets;
  std::set<std::wstring> seen;
  for (const std::wstring& target : staged_) {
    if (seen.insert(util::normalizePathKey(target)).second) targets.push_back(target);
  }
  size_t failedAt = 0;
  const auto placed = [this, &targets](size_t n) { reporter_.setCounts(n + 1, targets.size(), false); };
  if (journal_.placeStagedAll(targets, placed, failedAt)) return true;
  const std::wstring reason = lastErrorText();
  return fail(prog::FailureKind::kDisk, kReplaceFailed + targets[failedAt] + kReasonOpen + reason + kReasonClose);
}

bool InstallRun::repairPackage(const PackageItem& item, uint64_t size, bool& whole) {
  const ManifestEntry& entry = *item.entry;
  whole = false;
  // The packages before it are in place first: the comparison sees what they brought.
  if (!finishPending()) return false;
  reporter_.setStage(stageText(kComparingStage, item.label), prog::kPhaseVerify);
  bool fetching = false;
  delta::Progress progress;
  progress.comparing = [this](uint64_t done, uint64_t total) {
    reporter_.setCounts(done, total, true);
    return !cancelled();
  };
  progress.fetching = [this, &item, &fetching](uint64_t done, uint64_t total) {
    if (!fetching) reporter_.setStage(stageText(kFetchingChangesStage, item.label), prog::kPhaseDownload);
    fetching = true;
    reporter_.setCounts(done, total, true);
    return !cancelled();
  };
  const delta::Result result =
      delta::fetchChangedEntries({entry.url, entry.index, entry.indexSha256, size,
                                  util::tempDirectory() + L"\\" + item.downloadName + L".ranges"},
                                 item.targetDir, placeHooks(), progress, cancel_);
  if (result.outcome == delta::Outcome::kFailed) return failUnlessCancelled(result.failure);
  std::wstring line = item.label;
  if (result.outcome == delta::Outcome::kWhole) {
    whole = true;
    line += L" " + std::wstring(packages::kWholePackageBefore) + result.failure.text;
    reporter_.note(line);
  }
  appendDebugLog("[repair] " + util::toUtf8(line) + " " + std::to_string(result.entries) + " entries, " +
                 std::to_string(result.fetched) + " bytes");
  return true;
}

bool InstallRun::installPackage(const PackageItem& item, bool last, uint64_t size) {
  const ManifestEntry& entry = *item.entry;
  const bool zip = isZipPackage(entry.filename);
  if (zip && repair_ && !entry.index.empty()) {
    bool whole = false;
    if (!repairPackage(item, size, whole)) return false;
    if (!whole) return !stopIfCancelled();
  }
  const std::wstring temp = util::tempDirectory();
  // A file that is not a zip arrives beside its place and replaces the installed one only once it
  // is complete and verified: a failed or cancelled repair keeps the working file.
  const std::wstring installedPath = item.targetDir + L"\\" + entry.filename;
  const std::wstring downloadPath =
      zip ? temp + L"\\" + item.downloadName : installedPath + kDownloadSuffix;

  if (!zip && !util::createDirectories(item.targetDir)) {
    fail(prog::FailureKind::kDisk, kCreateFolderFailed + item.targetDir);
    return false;
  }
  // A finished file of an earlier run is never trusted; its partial files are resumed.
  util::deleteFileForce(downloadPath);

  reporter_.setStage(stageText(kDownloadingStage, item.label), prog::kPhaseDownload);
  size_t source = 0;
  const DownloadResult download = downloadFromSources(
      entry.sources(), entry.sha256, downloadPath,
      [this](uint64_t done, uint64_t total) {
        reporter_.setCounts(done, total, true);
        return !cancelled();
      },
      cancel_, &source);
  const std::wstring sourceLine = item.label + L" " + kSourceBefore + entry.sources()[source];
  reporter_.note(sourceLine);
  appendDebugLog("[download] " + util::toUtf8(sourceLine));
  if (!download.ok()) {
    return fail(util::prefixed(kDownloadFailedBefore + item.label + kDownloadFailedAfter, download.failure));
  }

  if (!entry.sha256.empty()) {
    reporter_.setStage(stageText(kVerifyingStage, item.label), prog::kPhaseVerify);
    // The download hashed the file while writing it: no second read.
    if (download.sha256 != entry.sha256) {
      util::deleteFileForce(downloadPath);
      fail(prog::FailureKind::kVerification, item.label + kDigestMismatch);
      return false;
    }
  }

  // The packages before this one go in place before anything of this one does: a file waits for
  // them, a zip is queued behind them. One that failed ends the install here.
  if ((!zip || last || pending_.failed()) && !finishPending()) {
    util::deleteFileForce(downloadPath);
    return false;
  }
  if (!zip) {
    if (stopIfCancelled()) {
      util::deleteFileForce(downloadPath);
      return false;
    }
    bool placed = false;
    if (journal_.active()) {
      std::lock_guard<std::mutex> hold(journalLock_);
      placed = journal_.replace(downloadPath, installedPath);
      if (placed) util::deleteFileForce(downloadPath);
    } else {
      placed = MoveFileExW(downloadPath.c_str(), installedPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!placed) {
      const std::wstring reason = lastErrorText();
      util::deleteFileForce(downloadPath);
      fail(prog::FailureKind::kDisk, kReplaceFailed + entry.filename + kReasonOpen + reason + kReasonClose);
      return false;
    }
    return true;
  }

  // Straight into the install folder: each file is inflated beside its place and moved over it,
  // while the next package downloads.
  if (!last) {
    const CancelEvent cancel = cancel_;
    pending_.start(downloadPath, item.targetDir, item.label, placeHooks(),
                   [cancel](uint64_t, uint64_t) { return !isCancelSignalled(cancel); });
    return true;
  }
  reporter_.setStage(stageText(kExtractingStage, item.label), prog::kPhaseExtract);
  util::Failure failure;
  // The first count comes once the archive is read, its names checked and its folders made; from
  // then on every file handled is a file put in its place, which the bar shows as the overwrite,
  // so that the package's share runs to its end. The counts arrive one at a time.
  bool placing = false;
  const bool extracted = extractZipInPlace(downloadPath, item.targetDir, placeHooks(), &failure,
                                           [this, &item, &placing](uint64_t done, uint64_t total) {
                                             if (!placing) {
                                               placing = true;
                                               reporter_.setStage(stageText(kOverwritingStage, item.label),
                                                                  prog::kPhaseOverwrite);
                                             }
                                             reporter_.setCounts(done, total, false);
                                             return !cancelled();
                                           });
  util::deleteFileForce(downloadPath);
  if (!extracted) return failUnlessCancelled(std::move(failure));
  return !stopIfCancelled();
}

prog::JobResult InstallRun::run() {
  runSteps();
  if (journal_.active()) {
    // The job failed or was cancelled after the first file went in place: every file goes back.
    util::Failure ignored;
    (void)pending_.finish(ignored);
    journal_.rollback();
  }
  return result_;
}

void InstallRun::runSteps() {
  // A repair over an installation whose upgrade was cut short starts from the old version.
  (void)recoverUpgrade(request_.installDir);
  reporter_.setStage(kFetchingVersionStage, prog::kPhaseNone);
  ServerManifest manifest;
  util::Failure failure;
  if (!fetchServerManifest(request_.baseUrl, manifest, &failure, cancel_)) {
    failUnlessCancelled(std::move(failure));
    return;
  }
  if (stopIfCancelled()) return;

  const PackagePlan plan = buildPackageList(manifest, request_.gpuCapable, request_.cudaRequested, request_.installDir);
  // Names from the server become file and folder names: refuse them before anything is written.
  std::wstring badName;
  if (!checkServerNames(manifest, plan, badName)) {
    fail(prog::FailureKind::kNetwork, kBadServerName + badName);
    return;
  }
  if (!plan.cudaNotice.empty()) {
    reporter_.setStage(plan.cudaNotice, prog::kPhaseNone);
    if (stopIfCancelled()) return;
  }

  std::string installed;
  const bool existing = util::readFile(markerDirectory(request_.installDir) + L"\\_update.done", installed, 64);
  repair_ = existing && !installed.empty() && installed == updateMarkerBytes(manifest.main.version);
  if (existing && (!journal_.begin(request_.installDir, L"repair " + manifest.main.version) ||
                   !journal_.stageBelow(request_.installDir))) {
    fail(prog::FailureKind::kDisk, kJournalWriteFailed + lastErrorText());
    return;
  }

  reporter_.setStage(kFetchingSizesStage, prog::kPhaseNone);
  std::vector<std::wstring> urls;
  for (const PackageItem& item : plan.items) urls.push_back(item.entry->url);
  const std::vector<uint64_t> sizes = queryRemoteSizes(urls, cancel_);
  if (stopIfCancelled()) return;
  const std::vector<uint64_t> weights = packageWeights(sizes);
  uint64_t totalWeight = 0;
  for (uint64_t w : weights) totalWeight += w;

  // The marker folder comes first: a folder that this attempt began to fill is then recognised as
  // the product's own by a retry or a later run, however this one ends.
  if (!util::createDirectories(markerDirectory(request_.installDir))) {
    fail(prog::FailureKind::kDisk, kCreateFolderFailed + request_.installDir);
    return;
  }

  uint64_t doneWeight = 0;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    reporter_.setPackage(i, plan.items.size(), weights[i], doneWeight, totalWeight);
    if (!installPackage(plan.items[i], i + 1 == plan.items.size(), sizes[i])) return;
    doneWeight += weights[i];
  }
  if (!finishPending()) return;
  if (journal_.active()) {
    if (!placeStaged()) return;
    journal_.commit();
  }
  result_ = finishInstall(request_, manifest, plan.cudaIncluded, reporter_);
}

}  // namespace

prog::JobResult runInstall(const InstallRequest& request, prog::JobSink& sink, CancelEvent cancel) {
  return InstallRun(request, sink, cancel).run();
}

}  // namespace install
