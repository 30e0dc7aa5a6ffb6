#include "install/install_job.h"

#include "install/finish_install.h"
#include "install/markers.h"
#include "install/package_list.h"
#include "net/download.h"
#include "net/http_connection.h"
#include "net/sha256.h"
#include "packages/manifest.h"
#include "packages/zip_extract.h"
#include "prog/reporter.h"
#include "util/copy_dir.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/payload.h"
#include "util/paths.h"
#include "wizard/wizard_ctx.h"
#include "wizard/wizard_messages.h"

#include <chrono>
#include <memory>

namespace wizard {
namespace {

// A download reports every few kilobytes, far more often than a window can redraw. Posting each
// report floods the window's queue: under load the window falls behind, the queue grows without
// bound and the install crawls. Intermediate reports are therefore posted at most this often;
// the first and the last report of a step always go through.
constexpr std::chrono::milliseconds kReportInterval{50};

class Throttle {
 public:
  bool due(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < kReportInterval) return false;
    last_ = now;
    return true;
  }

 private:
  std::chrono::steady_clock::time_point last_{};
};

// Suffix of a file that is not a zip while it downloads beside its place in the install folder.
constexpr wchar_t kDownloadSuffix[] = L".download";

// The job's context: the wizard record, the window and the reporter whose sinks post to it.
class InstallRun {
 public:
  InstallRun(Ctx& ctx, HWND window)
      : ctx_(ctx),
        window_(window),
        reporter_(
            [this](const std::wstring& line) {
              // A line without a percentage starts a stage.
              if (!statusThrottle_.due(line.find(L'%') == std::wstring::npos)) return;
              util::postPayload(window_, WM_WIZ_STATUS, 0, std::make_unique<std::wstring>(line));
            },
            [this](uint64_t done, uint64_t total) {
              if (!countsThrottle_.due(total == 0 || done == 0 || done >= total)) return;
              util::postPayload(window_, WM_WIZ_PROGRESS, 0, std::make_unique<BarProgress>(BarProgress{done, total}));
            },
            [this](const prog::TotalInfo& total) {
              const bool newPackage = total.index != lastPackageIndex_;
              lastPackageIndex_ = total.index;
              if (!totalThrottle_.due(newPackage)) return;
              util::postPayload(window_, WM_WIZ_PACKAGE, 0, std::make_unique<prog::TotalInfo>(total));
            }) {}

  void run();

 private:
  bool cancelled() const { return isCancelSignalled(ctx_.cancelEvent.get()); }
  // Ends the job: its one and only WM_WIZ_DONE with a failure text.
  void fail(const std::wstring& text) {
    util::postPayload(window_, WM_WIZ_DONE, 0, std::make_unique<std::wstring>(text));
  }
  // A cancel check: true (and the job ended) when the user cancelled.
  bool stopIfCancelled() {
    if (!cancelled()) return false;
    fail(kCancelledText);
    return true;
  }
  bool installPackage(const PackageItem& item);

  Ctx& ctx_;
  HWND window_;
  Throttle statusThrottle_;
  Throttle countsThrottle_;
  Throttle totalThrottle_;
  uint64_t lastPackageIndex_ = 0;
  prog::Reporter reporter_;  // last: its sinks use the members above
};

bool InstallRun::installPackage(const PackageItem& item) {
  const ManifestEntry& entry = *item.entry;
  const bool zip = isZipPackage(entry.filename);
  const std::wstring temp = util::tempDirectory();
  // A file that is not a zip arrives beside its place and replaces the installed one only once it
  // is complete and verified: a failed or cancelled repair keeps the working file.
  const std::wstring installedPath = item.targetDir + L"\\" + entry.filename;
  const std::wstring downloadPath =
      zip ? temp + L"\\QVSetup_" + item.label + L".zip" : installedPath + kDownloadSuffix;
  const std::wstring extractDir = temp + L"\\QVSetup_" + item.label + L"_extracted";

  if (!zip && !util::createDirectories(item.targetDir)) {
    fail(L"创建目标目录失败：" + item.targetDir);
    return false;
  }
  // A finished file of an earlier run is never trusted; its partial files are resumed.
  util::deleteFileForce(downloadPath);

  reporter_.setStage(L"正在下载" + item.label + L"…", prog::kPhaseDownload);
  const DownloadResult download = downloadFile(
      entry.url, downloadPath,
      [this](uint64_t done, uint64_t total) {
        reporter_.setCounts(done, total, true);
        return !cancelled();
      },
      ctx_.cancelEvent.get());
  if (!download.ok) {
    fail(download.cancelled ? std::wstring(kCancelledText) : L"下载" + item.label + L"失败：" + download.message);
    return false;
  }

  if (!entry.sha256.empty()) {
    reporter_.setStage(L"正在校验" + item.label + L"…", prog::kPhaseVerify);
    std::string digest;
    const bool hashed = sha256File(downloadPath, digest, nullptr, [this](uint64_t done, uint64_t total) {
      reporter_.setCounts(done, total, true);
      return true;
    });
    if (!hashed || digest != entry.sha256) {
      util::deleteFileForce(downloadPath);
      fail(item.label + L"SHA256 校验失败（文件不完整或被篡改）");
      return false;
    }
  }

  if (!zip) {
    if (stopIfCancelled()) {
      util::deleteFileForce(downloadPath);
      return false;
    }
    if (!MoveFileExW(downloadPath.c_str(), installedPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const std::wstring reason = lastErrorText();
      util::deleteFileForce(downloadPath);
      fail(L"替换失败：" + entry.filename + L"（" + reason + L"）");
      return false;
    }
    return true;
  }

  reporter_.setStage(L"正在解压" + item.label + L"…", prog::kPhaseExtract);
  std::wstring contentRoot;
  std::wstring error;
  if (!extractZip(downloadPath, extractDir, contentRoot, &error, [this](uint64_t done, uint64_t total) {
        reporter_.setCounts(done, total, false);
        return !cancelled();
      })) {
    util::deleteFileForce(downloadPath);
    fail(error);
    return false;
  }

  reporter_.setStage(L"正在覆盖" + item.label + L"…", prog::kPhaseOverwrite);
  const bool copied = util::copyDirContents(
      contentRoot, item.targetDir,
      [this](uint64_t done, uint64_t total) {
        reporter_.setCounts(done, total, false);
        return !cancelled();
      },
      &error);
  util::deleteFileForce(downloadPath);
  util::deleteDirRecursive(extractDir);
  if (!copied) {
    fail(cancelled() ? std::wstring(kCancelledText) : error);
    return false;
  }
  return !stopIfCancelled();
}

void InstallRun::run() {
  reporter_.setStage(L"获取版本信息…", prog::kPhaseNone);
  ServerManifest manifest;
  std::wstring error;
  if (!fetchServerManifest(ctx_.baseUrl, manifest, &error, ctx_.cancelEvent.get())) {
    fail(error);
    return;
  }
  if (stopIfCancelled()) return;

  const PackagePlan plan = buildPackageList(manifest, ctx_.gpuCapable, ctx_.cudaRequested, ctx_.installDir);
  // Names from the server become file and folder names: refuse them before anything is written.
  std::wstring badName;
  if (!checkServerNames(manifest, plan, badName)) {
    fail(L"服务器清单包含非法文件名：" + badName);
    return;
  }
  if (!plan.cudaNotice.empty()) {
    reporter_.setStage(plan.cudaNotice, prog::kPhaseNone);
    if (stopIfCancelled()) return;
  }

  reporter_.setStage(L"正在获取安装包信息…", prog::kPhaseNone);
  std::vector<uint64_t> sizes;
  for (const PackageItem& item : plan.items) {
    uint64_t size = 0;
    sizes.push_back(queryRemoteSize(item.entry->url, size, ctx_.cancelEvent.get()) ? size : 0);
    if (stopIfCancelled()) return;
  }
  const std::vector<uint64_t> weights = packageWeights(sizes);
  uint64_t totalWeight = 0;
  for (uint64_t w : weights) totalWeight += w;

  // The marker folder comes first: a folder that this attempt began to fill is then recognised as
  // the product's own by a retry or a later run, however this one ends.
  if (!util::createDirectories(markerDirectory(ctx_.installDir))) {
    fail(L"创建目标目录失败：" + ctx_.installDir);
    return;
  }

  uint64_t doneWeight = 0;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    reporter_.setPackage(i, plan.items.size(), weights[i], doneWeight, totalWeight);
    if (!installPackage(plan.items[i])) return;
    doneWeight += weights[i];
  }
  finishInstall(ctx_, window_, manifest, plan.cudaIncluded, reporter_);
}

}  // namespace

void doInstall(Ctx* ctx, HWND window) {
  InstallRun run(*ctx, window);
  run.run();
}

}  // namespace wizard
