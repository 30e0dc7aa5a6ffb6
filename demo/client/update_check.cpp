#include "update_check.h"

#include "texts.h"

#include "net/document.h"
#include "net/signature.h"
#include "packages/manifest.h"
#include "net/download.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/quote.h"
#include "util/text.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <vector>

namespace demo {
namespace {

std::vector<unsigned long> versionNumbers(const std::wstring& version) {
  std::vector<unsigned long> numbers;
  for (size_t i = 0; i < version.size();) {
    if (version[i] < L'0' || version[i] > L'9') {
      ++i;
      continue;
    }
    unsigned long value = 0;
    for (; i < version.size() && version[i] >= L'0' && version[i] <= L'9'; ++i) {
      value = value * 10 + static_cast<unsigned long>(version[i] - L'0');
    }
    numbers.push_back(value);
  }
  return numbers;
}

std::wstring updateAddress(const std::wstring& dir) {
  wchar_t url[2048] = {};
  GetPrivateProfileStringW(L"update", L"url", L"", url, 2048, (dir + L"\\update.ini").c_str());
  return url;
}

// An update description is a few lines of JSON; a larger answer is not one.
constexpr size_t kMaxDescriptionBytes = 1048576;

UpdateCheck failed(const std::wstring& text) { return {false, kCheckFailed + text}; }

}  // namespace

bool isNewerVersion(const std::wstring& offered, const std::wstring& installed) {
  return versionNumbers(offered) > versionNumbers(installed);
}

UpdateCheck checkForUpdate(const std::wstring& dir, const std::wstring& exe, const std::wstring& installedVersion) {
  const std::wstring url = updateAddress(dir);
  if (url.empty()) return failed(kNoUpdateIni);
  std::string bytes;
  const DownloadResult download = fetchDocument(url, kMaxDescriptionBytes, bytes, nullptr);
  if (!download.ok()) return failed(download.failure.text);
  // With the vendor's release key, the description is believed only with its signature.
  if (!builtInReleaseKeys().empty()) {
    std::string line, signature;
    const bool verified = fetchDocument(url + L".sig", 1024, line, nullptr).ok() &&
                          net::base64Decode(line.substr(0, line.find_first_of("\r\n")), signature) &&
                          net::verifyBytesWithAnyKey(bytes, builtInReleaseKeys(), signature);
    if (!verified) return failed(kBadSignature);
  }

  nlohmann::json plan;
  std::wstring offered;
  std::wstring notes;
  try {
    const nlohmann::json latest = nlohmann::json::parse(bytes);
    offered = util::toWide(util::kCodePageUtf8, latest.at("version").get<std::string>());
    notes = util::toWide(util::kCodePageUtf8, latest.value("notes", std::string()));
    plan["items"] = latest.at("items");
  } catch (const nlohmann::json::exception& e) {
    return failed(kBadDescription + util::toWide(util::kCodePageUtf8, e.what()) + kReasonEnd);
  }
  if (!isNewerVersion(offered, installedVersion)) return {false, kUpToDate + installedVersion + kReasonEnd};

  // The plan names this very process: the applier waits for it to exit before replacing files.
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  plan["exe"] = util::toUtf8(exe);
  plan["pid"] = util::toUtf8(pid);
  plan["launch"] = true;
  const std::wstring planPath = util::tempDirectory() + L"\\Orvalo_upgrade_plan.json";
  const std::string text = plan.dump();
  if (!util::writeFile(planPath, text.data(), text.size())) return failed(kPlanNotWritten);

  const std::wstring setup = dir + L"\\OrvaloSetup.exe";
  std::wstring commandLine =
      util::buildCommandLine(setup, {L"--apply", L"--plan", planPath, L"--exe", exe, L"--pid", pid});
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(setup.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si,
                      &pi)) {
    return failed(kSetupNotStarted);
  }
  util::Handle process(pi.hProcess), thread(pi.hThread);
  return {true, kNewVersion + offered + kNewVersionNotes + notes};
}

}  // namespace demo
