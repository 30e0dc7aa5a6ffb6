#include "install/finish_install.h"

#include "app/client_contract.h"
#include "install/channel_stamp.h"
#include "install/markers.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "net/error_text.h"
#include "net/sha256.h"
#include "prog/debug_log.h"
#include "resources/resource_ids.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/payload.h"
#include "util/paths.h"
#include "util/text.h"
#include "wizard/wizard_ctx.h"
#include "wizard/wizard_messages.h"

#include <cwctype>
#include <memory>

namespace wizard {
namespace {

uint64_t fileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The server's current agreement, verified when the manifest gives a digest; false when none
// could be had.
bool copyServerAgreement(const Ctx& ctx, const std::wstring& target) {
  ServerManifest manifest;
  if (!fetchServerManifest(ctx.baseUrl, manifest, nullptr, ctx.cancelEvent.get()) || !manifest.hasAgreement) {
    return false;
  }
  const std::wstring temp = util::tempDirectory() + L"\\OrvaloSetup_agreement_legal.txt";
  util::deleteFileForce(temp);
  bool copied = false;
  if (downloadFile(manifest.agreementUrl, temp, ByteProgress(), ctx.cancelEvent.get()).ok) {
    bool verified = manifest.agreementSha256.empty();
    if (!verified) {
      std::string digest;
      verified = sha256File(temp, digest, nullptr, ByteProgress()) && digest == manifest.agreementSha256;
    }
    copied = verified && CopyFileW(temp.c_str(), target.c_str(), FALSE);
  }
  util::deleteFileForce(temp);
  return copied;
}

bool writeBuiltInAgreement(const std::wstring& target) {
  std::string text;
  if (!loadRcData(IDR_AGREEMENT_BUILTIN, text).empty() || text.empty()) return false;
  return util::writeFile(target, text.data(), text.size());
}

void postDone(HWND window, bool success, const std::wstring& failure = {}) {
  if (success) {
    PostMessageW(window, WM_WIZ_DONE, 1, 0);
  } else {
    util::postPayload(window, WM_WIZ_DONE, 0, std::make_unique<std::wstring>(failure));
  }
}

}  // namespace

std::wstring findMainProgram(const std::wstring& installDir, const std::wstring& exeName) {
  const std::wstring named = installDir + L"\\" + exeName;
  if (util::isExistingFile(named)) return named;
  WIN32_FIND_DATAW data{};
  util::FindHandle find(FindFirstFileW((installDir + L"\\*.exe").c_str(), &data));
  if (!find) return {};
  do {
    std::wstring lower = data.cFileName;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    // The setup copy carries the name too, and starting it instead of the client would open the
    // installer again after every install.
    if (lower == L"orvalosetup.exe") continue;
    if (lower.size() >= 6 && lower.find(L"orvalo") != std::wstring::npos) {
      const std::wstring found = installDir + L"\\" + data.cFileName;
      return util::isExistingFile(found) ? found : std::wstring();
    }
  } while (FindNextFileW(find.get(), &data));
  return {};
}

void finishInstall(Ctx& ctx, HWND window, const ServerManifest& manifest, bool cudaInstalled,
                   prog::Reporter& reporter) {
  const std::wstring& dir = ctx.installDir;

  // 1. channel.ini from the stamp this setup carries.
  std::string channel;
  const std::wstring channelError = readChannelStamp(channel);
  if (!channelError.empty()) {
    postDone(window, false, L"写入渠道配置失败：" + channelError);
    return;
  }
  if (!util::writeFile(dir + L"\\" + client::kChannelFileName, channel.data(), channel.size())) {
    const std::wstring reason = lastErrorText();
    postDone(window, false, L"写入渠道配置失败：" + reason);
    return;
  }

  // 2.-5. Markers of what is installed.
  const std::string agreementVersion = util::toUtf8(ctx.agreementVersion);
  (void)util::writeFile(markerDirectory(dir) + L"\\_agreement.done", agreementVersion.data(),
                        agreementVersion.size());
  if (cudaInstalled) writeMarker(dir, L"_llm_deps.done", manifest.llmDeps.version);
  writeMarker(dir, L"_component.done", manifest.deps.version);
  for (const ComponentEntry& component : manifest.components) {
    writeMarker(dir, L"_" + component.name + L".done", component.version);
  }

  // 6. The agreement the user accepted, kept beside the client once.
  const std::wstring legalDir = dir + L"\\" + client::kLegalDirName;
  const std::wstring agreementCopy = legalDir + L"\\" + client::kAgreementCopyName;
  if (!(util::isExistingFile(agreementCopy) && fileSize(agreementCopy) != 0)) {
    util::createDirectories(legalDir);
    const bool ready = copyServerAgreement(ctx, agreementCopy) || writeBuiltInAgreement(agreementCopy);
    if (!ready) {
      postDone(window, false,
               L"协议文本获取失败（网络不可用且内置兜底缺失），已终止安装；请检查网络后重新运行安装器");
      return;
    }
    reporter.setStage(L"协议文本已就绪", prog::kPhaseNone);
  }

  // 7. The installed version.
  writeUpdateMarker(dir, manifest.main.version);

  // 8. The setup copy through which the client upgrades and Windows uninstalls.
  const std::wstring setupCopy = dir + L"\\" + client::kSetupExeName;
  if (!util::isExistingFile(setupCopy)) CopyFileW(util::modulePath().c_str(), setupCopy.c_str(), FALSE);

  // 9.-10. The client.
  const std::wstring exe = findMainProgram(dir, manifest.main.exe);
  if (exe.empty()) {
    postDone(window, false, L"安装完成，但未在安装目录找到主程序（" + manifest.main.exe + L"）");
    return;
  }
  ctx.mainExePath = exe;

  // 11.-15. Shortcut, registration, start.
  const bool shortcut = createDesktopShortcut(exe, dir);
  appendDebugLog(std::string("[shortcut] ") + (shortcut ? "ok" : "fail") + " exe=" + util::toUtf8(exe));
  registerUninstall(dir, exe, manifest.main.version);
  reporter.setStage(L"启动主程序…", prog::kPhaseNone);
  launchProgram(exe);
  postDone(window, true);
}

}  // namespace wizard
