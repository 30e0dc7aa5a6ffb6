#include "install/finish_install.h"

#include "install/channel_stamp.h"
#include "install/markers.h"
#include "install/registration.h"
#include "install/setup_copy.h"
#include "install/shortcut.h"
#include "install/texts.h"
#include "prog/debug_log.h"
#include "util/client_contract.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/payload.h"
#include "util/text.h"

#include <cwctype>

namespace install {

std::wstring findMainProgram(const std::wstring& installDir, const std::wstring& exeName) {
  const std::wstring named = installDir + L"\\" + exeName;
  if (util::isExistingFile(named)) return named;
  WIN32_FIND_DATAW data{};
  util::FindHandle find(FindFirstFileW((installDir + L"\\*.exe").c_str(), &data));
  if (!find) return {};
  do {
    // The setup copy carries the name too, and starting it instead of the client would open the
    // installer again after every install.
    if (util::equalsIgnoringCase(data.cFileName, client::kSetupExeName)) continue;
    std::wstring lower = data.cFileName;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    if (lower.size() >= 6 && lower.find(L"orvalo") != std::wstring::npos) {
      const std::wstring found = installDir + L"\\" + data.cFileName;
      return util::isExistingFile(found) ? found : std::wstring();
    }
  } while (FindNextFileW(find.get(), &data));
  return {};
}

prog::JobResult finishInstall(const InstallRequest& request, const ServerManifest& manifest,
                              bool cudaInstalled, prog::Reporter& reporter) {
  const std::wstring& dir = request.installDir;

  // 1. channel.ini from the stamp this setup carries.
  std::string channel;
  const std::wstring channelError = readChannelStamp(channel);
  if (!channelError.empty()) {
    return prog::jobFailed(prog::FailureKind::kDisk, kChannelWriteFailed + channelError);
  }
  if (!util::writeFile(dir + L"\\" + client::kChannelFileName, channel.data(), channel.size())) {
    const std::wstring reason = lastErrorText();
    return prog::jobFailed(prog::FailureKind::kDisk, kChannelWriteFailed + reason);
  }

  // 2.-5. Markers of what is installed.
  const std::string agreementVersion = util::toUtf8(request.agreementVersion);
  (void)util::writeFile(markerDirectory(dir) + L"\\_agreement.done", agreementVersion.data(),
                        agreementVersion.size());
  if (cudaInstalled) writeMarker(dir, L"_llm_deps.done", manifest.llmDeps.version);
  writeMarker(dir, L"_component.done", manifest.deps.version);
  for (const ComponentEntry& component : manifest.components) {
    writeMarker(dir, L"_" + component.name + L".done", component.version);
  }

  // 6. The agreement exactly as the user read it when accepting, beside the version recorded above.
  const std::string agreement = util::toUtf8(request.agreementText);
  if (agreement.empty()) {
    return prog::jobFailed(prog::FailureKind::kNetwork, kAgreementMissing);
  }
  const std::wstring legalDir = dir + L"\\" + client::kLegalDirName;
  util::createDirectories(legalDir);
  if (!util::writeFile(legalDir + L"\\" + client::kAgreementCopyName, agreement.data(), agreement.size())) {
    const std::wstring reason = lastErrorText();
    return prog::jobFailed(prog::FailureKind::kDisk, kAgreementWriteFailed + reason);
  }
  reporter.setStage(kAgreementReadyStage, prog::kPhaseNone);

  // 7. The installed version.
  writeUpdateMarker(dir, manifest.main.version);

  // 8. The setup copy through which the client upgrades and Windows uninstalls.
  refreshSetupCopy(util::modulePath(), dir + L"\\" + client::kSetupExeName);

  // 9.-10. The client.
  const std::wstring exe = findMainProgram(dir, manifest.main.exe);
  if (exe.empty()) {
    // The server's packages lack the client it names: a fault of what was downloaded.
    return prog::jobFailed(prog::FailureKind::kNetwork, kMainProgramMissing + manifest.main.exe + kReasonClose);
  }

  // 11.-15. Shortcut, registration, start.
  if (request.createShortcut) {
    const bool shortcut = createDesktopShortcut(exe, dir);
    appendDebugLog(std::string("[shortcut] ") + (shortcut ? "ok" : "fail") + " exe=" + util::toUtf8(exe));
  }
  registerUninstall(dir, exe, manifest.main.version);
  if (request.launch) {
    reporter.setStage(kLaunchingStage, prog::kPhaseNone);
    launchProgram(exe);
  }
  prog::JobResult result;
  result.mainProgram = exe;
  return result;
}

}  // namespace install
