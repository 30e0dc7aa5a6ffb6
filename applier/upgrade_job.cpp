#include "applier/upgrade_job.h"

#include "applier/db_snapshot.h"
#include "applier/texts.h"
#include "applier/upgrade_rules.h"
#include "applier/upgrade_steps.h"
#include "install/markers.h"
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
#include "util/copy_dir.h"
#include "util/database_files.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace applier {
namespace {

// A package whose size the server does not tell weighs as much as the average of the others.
constexpr uint64_t kDefaultPackageWeight = 100ull << 20;

using util::Failure;
using util::FailureKind;

Failure refused(std::wstring text) { return util::failure(FailureKind::kRefused, std::move(text)); }
Failure diskFailure(std::wstring text) { return util::failure(FailureKind::kDisk, std::move(text)); }
// A failure of the system call just made, its reason in brackets.
Failure lastErrorFailure(const std::wstring& text) {
  return diskFailure(text + kReasonOpen + lastErrorText() + kReasonClose);
}

// Raised while the installation's files are replaced, so that the window can ask Windows to wait.
class ApplyingFlag {
 public:
  explicit ApplyingFlag(std::atomic<bool>* flag) : flag_(flag) {
    if (flag_) *flag_ = true;
  }
  ~ApplyingFlag() {
    if (flag_) *flag_ = false;
  }
  ApplyingFlag(const ApplyingFlag&) = delete;
  ApplyingFlag& operator=(const ApplyingFlag&) = delete;

 private:
  std::atomic<bool>* flag_;
};

// One run of the job: its request, its reporter and its work list.
class UpgradeRun {
 public:
  UpgradeRun(const UpgradeRequest& request, prog::JobSink& sink)
      : request_(request), reporter_(sink) {}

  // Whatever this run downloaded or unpacked into the temporary folder, however it ended.
  void discardTemporaries() {
    for (const std::wstring& path : temporaries_) {
      util::deleteDirRecursive(path);
      util::deleteFileForce(path);
    }
  }

  // The failure, or none when every step succeeded.
  Failure run() {
    if (!installFolderOf(request_.exe, installDir_)) return refused(kBadExeArgument);
    // An upgrade cut short earlier is undone before this one looks at the installation.
    (void)install::recoverUpgrade(installDir_);
    items_ = request_.items;
    count_ = items_.size();
    targetNames_.assign(count_, std::wstring());
    targets_.assign(count_, std::wstring());
    staged_.assign(count_, std::vector<std::wstring>());
    unpacked_.assign(count_, false);
    // Kinds and destinations are plain text that becomes file and folder names: a bad one fails
    // before anything is downloaded.
    for (UpgradeItem& item : items_) {
      if (!isAcceptableKind(item.kind)) return refused(kBadKindArgument + item.kind);
      // A setup that checks signed releases applies only content whose digest the plan gives.
      if (!builtInReleaseKeys().empty() && !item.url.empty() && item.sha256.empty()) {
        return refused(kPlanWithoutDigest + item.url);
      }
      std::wstring dest;
      switch (resolveDestination(installDir_, item.dest, dest)) {
        case DestinationCheck::kParentSegment: return refused(kDestParentSegment);
        case DestinationCheck::kBadName: return refused(kDestBadName + item.dest);
        case DestinationCheck::kOk: break;
      }
      item.dest = dest;
    }

    reporter_.setStage(kFetchingSizesStage, prog::kPhaseNone);
    // The indexes come while the servers tell the packages' sizes.
    indexes_.assign(count_, std::string());
    {
      std::vector<std::thread> fetchers;
      for (size_t i = 0; i < count_; ++i) {
        if (items_[i].index.empty()) continue;
        try {
          fetchers.emplace_back([this, i] { indexes_[i] = delta::fetchIndex(items_[i].index, nullptr); });
        } catch (...) {
          // fetched when the package's turn comes
        }
      }
      computeWeights();
      for (std::thread& fetcher : fetchers) fetcher.join();
    }
    // Packages are unpacked beside their places while the client still runs, under the journal
    // from the start: whatever ends this run or the process, what was prepared goes again.
    if (!journal_.begin(installDir_, items_.front().version)) return lastErrorFailure(kJournalWriteFailed);
    // Every item is judged completely here, while the client may still run: a failure before
    // the wait leaves both the client and the installation as they were.
    for (size_t i = 0; i < count_; ++i) {
      Failure failure = items_[i].url.empty() ? Failure() : fetch(i);
      if (!failure) failure = checkContent(i);
      if (failure) {
        abandon();
        return failure;
      }
    }
    Failure unpacked = finishPending();
    if (unpacked) {
      abandon();
      return unpacked;
    }
    placeEachFileOnce();

    reporter_.setStage(kWaitingForClientStage, prog::kPhaseNone);
    const auto onForce = [this] { reporter_.setStage(kForcingClientStage, prog::kPhaseNone); };
    if (request_.client && !waitForProcessExit(request_.client, kClientExitWaitMs, kClientKillWaitMs, onForce)) {
      abandon();
      return refused(kClientExitTimeout);
    }

    // The client is closed now (or was gone already): whatever happens to the files, the user
    // gets it back, as after a successful upgrade.
    Failure failure = applyAll();
    if (request_.launch) {
      reporter_.setStage(kLaunchingStage, prog::kPhaseNone);
      launchProgram(request_.exe);
    }
    return failure;
  }

 private:
  std::wstring stage(const wchar_t* text, size_t index) const {
    return text + packageCounterSuffix(index, count_) + kStageEllipsis;
  }

  ByteProgress counter(bool withSizes) {
    return [this, withSizes](uint64_t done, uint64_t total) {
      reporter_.setCounts(done, total, withSizes);
      return true;  // an upgrade is never cancelled half-way
    };
  }

  void computeWeights() {
    weights_.assign(count_, 0);
    std::vector<bool> known(count_, false);
    uint64_t knownSum = 0;
    uint64_t knownCount = 0;
    std::vector<std::wstring> urls;
    for (const UpgradeItem& item : items_) urls.push_back(item.url);
    sizes_ = queryRemoteSizes(urls);
    for (size_t i = 0; i < count_; ++i) {
      if (sizes_[i] > 0) {
        weights_[i] = sizes_[i];
        known[i] = true;
        knownSum += sizes_[i];
        ++knownCount;
      }
    }
    const uint64_t fallback = knownCount ? knownSum / knownCount : kDefaultPackageWeight;
    totalWeight_ = 0;
    for (size_t i = 0; i < count_; ++i) {
      if (!known[i]) weights_[i] = fallback;
      totalWeight_ += weights_[i];
    }
  }

  Failure fetch(size_t i) {
    UpgradeItem& item = items_[i];
    const std::wstring local = util::tempDirectory() + L"\\" + localPackageName(item.url, i, count_);
    // The "up<i>_" prefix only keeps the items apart in the temporary folder; a bare file is put
    // in place under the name its address gives it, whatever its place in the plan.
    targetNames_[i] = localPackageName(item.url, i, 1);
    util::deleteFileForce(local);
    if (!item.index.empty() && util::endsWithIgnoringCase(local, L".zip")) {
      bool whole = false;
      Failure failure = fetchChanges(i, local + L".ranges", whole);
      if (!whole) return failure;
    }

    reporter_.setStage(stage(kDownloadingStage, i), prog::kPhaseDownload);
    reporter_.setPackage(i, count_, weights_[i], doneWeight_, totalWeight_);
    doneWeight_ += weights_[i];
    const DownloadResult download = downloadFile(item.url, local, counter(true), nullptr);
    if (!download.ok()) {
      util::deleteFileForce(local);
      return util::prefixed(kDownloadFailed, download.failure);
    }

    if (!item.sha256.empty()) {
      reporter_.setStage(stage(kVerifyingStage, i), prog::kPhaseVerify);
      // The download hashed the file while writing it. The digest is compared exactly:
      // upper-case hex in a plan never matches.
      if (download.sha256 != util::toUtf8(item.sha256)) {
        util::deleteFileForce(local);
        return util::failure(FailureKind::kVerification, kDigestMismatch);
      }
    }

    temporaries_.push_back(local);
    if (!util::endsWithIgnoringCase(local, L".zip")) {
      item.src = local;
      return {};
    }
    // Each file is inflated beside its place (target + ".upg_tmp") and only named here; it goes
    // in place under the journal once the client has exited. The package unpacks while the next
    // ones download, after the ones before it.
    if (pending_.failed()) return finishPending();
    reporter_.setStage(stage(kExtractingStage, i), prog::kPhaseExtract);
    PlaceHooks hooks;
    if (!stagingHooks(i, hooks)) return lastErrorFailure(kJournalWriteFailed);
    pending_.start(local, item.dest, std::to_wstring(i), std::move(hooks), {});
    unpacked_[i] = true;
    return {};
  }

  // Readies item i's folder for files staged beside their places (false: the journal could not
  // be written) and the hooks that stage them: folders made under the journal, each file only
  // named, to go in place under the journal once the client has exited.
  bool stagingHooks(size_t i, PlaceHooks& hooks) {
    {
      std::lock_guard<std::mutex> hold(journalLock_);
      if (!journal_.stageBelow(items_[i].dest)) return false;
    }
    hooks.makeFolder = [this](const std::wstring& folder) {
      std::lock_guard<std::mutex> hold(journalLock_);
      return journal_.makeFolder(folder);
    };
    hooks.placeFile = [this, i](const std::wstring&, const std::wstring& target) {
      staged_[i].push_back(target);
      return true;
    };
    hooks.concurrent = false;
    hooks.flushStaged = true;  // in place later under the journal, which needs the data on disk
    return true;
  }

  // Stages only the entries of a package with an index that differ from the installed files, as
  // its unpacking would stage them; `whole` asks for the package as a whole instead, when that
  // cannot be done safely (nothing was staged then).
  Failure fetchChanges(size_t i, const std::wstring& rangesFile, bool& whole) {
    UpgradeItem& item = items_[i];
    whole = false;
    // The packages before it stage their files first: one target is never staged by two at once.
    if (Failure unpacked = finishPending()) return unpacked;
    PlaceHooks hooks;
    if (!stagingHooks(i, hooks)) return lastErrorFailure(kJournalWriteFailed);
    reporter_.setStage(stage(kComparingStage, i), prog::kPhaseVerify);
    reporter_.setPackage(i, count_, weights_[i], doneWeight_, totalWeight_);
    bool fetching = false;
    delta::Progress progress;
    progress.comparing = counter(true);
    progress.fetching = [this, i, &fetching](uint64_t done, uint64_t total) {
      if (!fetching) reporter_.setStage(stage(kFetchingChangesStage, i), prog::kPhaseDownload);
      fetching = true;
      reporter_.setCounts(done, total, true);
      return true;
    };
    const delta::Result result =
        delta::fetchChangedEntries({item.url, item.index, item.indexSha256, sizes_[i], rangesFile, indexes_[i]}, item.dest, hooks,
                                   progress, nullptr);
    if (result.outcome == delta::Outcome::kFailed) return result.failure;
    if (result.outcome == delta::Outcome::kWhole) {
      staged_[i].clear();
      whole = true;
      const std::wstring line = item.url + L" " + packages::kWholePackageBefore + result.failure.text;
      reporter_.note(line);
      appendDebugLog("[upgrade] " + util::toUtf8(line));
      return {};
    }
    appendDebugLog("[upgrade] " + util::toUtf8(item.url) + " " + std::to_string(result.entries) + " entries, " +
                   std::to_string(result.fetched) + " bytes");
    doneWeight_ += weights_[i];
    unpacked_[i] = true;
    return {};
  }

  // Waits for the packages unpacking in the background; the failure, or none.
  Failure finishPending() {
    Failure failure;
    const auto unpacking = [this](const std::wstring& label) {
      reporter_.setStage(stage(kExtractingStage, std::stoul(label)), prog::kPhaseExtract);
    };
    return pending_.finish(failure, unpacking) ? Failure() : util::prefixed(kExtractFailed, std::move(failure));
  }

  // A file that a later package prepared again holds that package's content since then: it goes
  // in place with the last package that has it, once.
  void placeEachFileOnce() {
    for (size_t i = count_; i-- > 0;) {
      std::vector<std::wstring>& targets = staged_[i];
      std::vector<bool> last(targets.size());
      for (size_t j = targets.size(); j-- > 0;) {
        last[j] = lastPackageOf_.emplace(util::normalizePathKey(targets[j]), i).second;
      }
      std::vector<std::wstring> kept;
      for (size_t j = 0; j < targets.size(); ++j) {
        if (last[j]) kept.push_back(std::move(targets[j]));
      }
      targets = std::move(kept);
    }
  }

  // Whether a package after item i brings its own target: item i's copy would only be replaced,
  // and making it would take the place of the package's prepared file.
  bool packageAfterBrings(size_t i, const std::wstring& target) const {
    const auto found = lastPackageOf_.find(util::normalizePathKey(target));
    return found != lastPackageOf_.end() && found->second > i;
  }

  // Ends a run that failed before anything went in place: nothing it prepared stays.
  void abandon() {
    (void)finishPending();
    journal_.rollback();
  }

  // Whether the item's content can be put in place, judged before anything is: it exists, and a
  // single file has a target that is neither nameless nor a database.
  Failure checkContent(size_t i) {
    const UpgradeItem& item = items_[i];
    if (unpacked_[i] || (!item.src.empty() && util::isExistingFolder(item.src))) return {};
    if (item.src.empty() || !util::isExistingFile(item.src)) return refused(kContentMissing + item.src);
    std::wstring target;
    if (normalizedKind(item.kind) == L"main") {
      target = request_.exe;
    } else {
      const std::wstring name = targetNames_[i].empty() ? util::fileNameOf(item.src) : targetNames_[i];
      if (item.dest.empty() || name.empty()) return refused(kBadDestArgument);
      target = appendToFolder(item.dest, name);
    }
    if (isDatabaseFile(target)) return refused(kDatabaseRefused + target);
    targets_[i] = target;
    return {};
  }

  // Snapshot, then every item's content and markers under the journal: all of it lands, or
  // none of it does. Then the clean-up.
  Failure applyAll() {
    reporter_.setStage(kSnapshotStage, prog::kPhaseNone);
    const std::wstring snapshot = createDbSnapshot(installDir_);
    reporter_.setStage(snapshot.empty() ? std::wstring(kNoSnapshotStage) : kSnapshotDoneStage + snapshot,
                       prog::kPhaseNone);

    ApplyingFlag flag(request_.applying);
    const auto rollBack = [this](Failure failure) {
      reporter_.setStage(kRollingBackStage, prog::kPhaseNone);
      journal_.rollback();
      return failure;
    };
    for (size_t i = 0; i < count_; ++i) {
      Failure failure = apply(i, journal_);
      if (failure) return rollBack(std::move(failure));
    }
    // The old copies stay for the process to delete once the window has said that the upgrade
    // is done (recoverUpgrade, also at any later start).
    if (!journal_.markCommitted()) return rollBack(lastErrorFailure(kJournalWriteFailed));

    for (const UpgradeItem& item : items_) {
      if (mayDeleteCleanFolder(item.clean, installDir_, item.dest)) util::deleteDirRecursive(item.clean);
    }
    return {};
  }

  Failure apply(size_t i, install::UpgradeJournal& journal) {
    const UpgradeItem& item = items_[i];
    const std::wstring kind = normalizedKind(item.kind);
    if (unpacked_[i]) {
      reporter_.setStage(stage(kOverwritingStage, i), prog::kPhaseOverwrite);
      const std::vector<std::wstring>& targets = staged_[i];
      size_t failedAt = 0;
      const auto placed = [&](size_t n) { reporter_.setCounts(n + 1, targets.size(), false); };
      if (!journal.placeStagedAll(targets, placed, failedAt)) {
        const std::wstring reason = lastErrorText();
        const std::wstring& target = targets[failedAt];
        return diskFailure(kReplaceFailed + target.substr(std::min(target.size(), item.dest.size() + 1)) + kReasonOpen +
                           reason + kReasonClose);
      }
    } else if (targets_[i].empty()) {
      reporter_.setStage(stage(kOverwritingStage, i), prog::kPhaseOverwrite);
      util::CopyHooks hooks;
      hooks.placeFile = [this, i, &journal](const std::wstring& source, const std::wstring& target) {
        return packageAfterBrings(i, target) || journal.replace(source, target);
      };
      hooks.makeFolder = [&journal](const std::wstring& folder) { return journal.makeFolder(folder); };
      Failure failure;
      if (!util::copyDirContents(item.src, item.dest, counter(false), &failure, &hooks)) return failure;
    } else {
      Failure failure = applyFile(i, kind, journal);
      if (failure) return failure;
    }

    // The versions go under the journal too: a failed upgrade leaves the markers as they were.
    std::string version;
    std::wstring marker;
    if (kind == L"main") {
      version = updateMarkerBytes(item.version);
      marker = markerDirectory(installDir_) + L"\\_update.done";
    } else {
      version = util::toUtf8(filterUpdateVersion(item.version));
      marker = markerDirectory(installDir_) + L"\\" + componentMarkerName(kind);
    }
    if (!version.empty() && !journal.write(marker, version)) return lastErrorFailure(kMarkerWriteFailed);
    return {};
  }

  Failure applyFile(size_t i, const std::wstring& kind, install::UpgradeJournal& journal) {
    const UpgradeItem& item = items_[i];
    if (kind == L"main") {
      reporter_.setStage(stage(kOverwritingMainStage, i), prog::kPhaseOverwrite);
    } else {
      if (!journal.makeFolder(item.dest)) return diskFailure(kCreateFolderFailed + item.dest);
      reporter_.setStage(stage(kOverwritingStage, i), prog::kPhaseOverwrite);
    }
    reporter_.setCounts(0, 1, false);
    if (!packageAfterBrings(i, targets_[i]) && !journal.replace(item.src, targets_[i])) {
      return lastErrorFailure(kOverwriteFailed);
    }
    reporter_.setCounts(1, 1, false);
    util::deleteFileForce(item.src);
    return {};
  }

  const UpgradeRequest& request_;
  std::vector<std::wstring> temporaries_;  // downloads and unpacked folders of this run
  prog::Reporter reporter_;
  std::wstring installDir_;
  std::vector<UpgradeItem> items_;
  std::vector<std::wstring> targetNames_;  // file names of downloaded items, without the prefix
  std::vector<std::wstring> targets_;      // where a single file goes; empty for folder content
  std::vector<std::vector<std::wstring>> staged_;  // an unpacked package's files, prepared beside them
  std::vector<bool> unpacked_;             // the item is a package unpacked beside its place
  std::map<std::wstring, size_t> lastPackageOf_;  // a prepared file's key -> the package it goes with
  install::UpgradeJournal journal_;
  std::mutex journalLock_;  // the journal is written by the job and by the unpacking thread
  ExtractionThread pending_;  // declared after what its thread uses, so that it ends first
  size_t count_ = 0;
  std::vector<uint64_t> sizes_;  // as the servers told them; 0 where unknown
  std::vector<std::string> indexes_;  // the packages' indexes as fetched early; empty: not yet
  std::vector<uint64_t> weights_;
  uint64_t totalWeight_ = 0;
  uint64_t doneWeight_ = 0;
};

}  // namespace

UpgradeRequest upgradeRequestOf(Ctx& ctx) {
  UpgradeRequest request;
  request.items = ctx.items;
  if (request.items.empty()) request.items.push_back(commandLineItem(ctx.options));
  request.exe = ctx.options.exe;
  request.launch = ctx.options.launch;
  request.client = ctx.client.get();
  request.applying = &ctx.applying;
  return request;
}

prog::JobResult runUpgradeJob(const UpgradeRequest& request, prog::JobSink& sink) {
  UpgradeRun run(request, sink);
  prog::JobResult result = prog::jobFailed(run.run());
  run.discardTemporaries();
  return result;
}

}  // namespace applier
