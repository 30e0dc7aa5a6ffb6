#include "wizard_harness.h"

#include "prog/debug_log.h"
#include "prog/reporter.h"
#include "wizard/wizard_ids.h"
#include "wizard/wizard_messages.h"
#include "wizard/wizard_window.h"

#include <commctrl.h>
#include <ole2.h>

#include <sstream>

namespace testing_support {
namespace {

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 2] = {};
  const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
  return n > 0 && n < MAX_PATH * 2 ? buffer : L"";
}

void restore(const wchar_t* name, const std::wstring& value) {
  SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}

install::GpuInfo eightGigabyteGpu() { return install::GpuInfo{true, L"Test Adapter", 8ull << 30}; }

}  // namespace

PrivateTempFolder::PrivateTempFolder() : oldTmp_(environment(L"TMP")), oldTemp_(environment(L"TEMP")) {
  SetEnvironmentVariableW(L"TMP", dir_.path().c_str());
  SetEnvironmentVariableW(L"TEMP", dir_.path().c_str());
}

PrivateTempFolder::~PrivateTempFolder() {
  restore(L"TMP", oldTmp_);
  restore(L"TEMP", oldTemp_);
}

std::vector<std::string> PrivateTempFolder::debugLines() const {
  std::vector<std::string> lines;
  std::istringstream log(readFileBytes(debugLogPath()));
  for (std::string line; std::getline(log, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t stamp = line.find("] ");
    lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
  }
  return lines;
}

bool WizardHarness::open(const std::wstring& baseUrl, const std::function<void(wizard::Ctx&)>& prepare,
                         const std::function<void(wizard::Collaborators&)>& collaborate) {
  ui_.join();
  const auto create = [this, baseUrl, prepare, collaborate] {
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    ctx_ = wizard::makeCtx(baseUrl);
    ctx_->existingInstallDir.clear();  // whatever the prefix's registry holds
    if (prepare) prepare(*ctx_);
    wizard::Collaborators with;
    with.detectGpu = eightGigabyteGpu;
    if (collaborate) collaborate(with);
    return wizard::createWizardWindow(ctx_.get(), with);
  };
  const auto finish = [this] {
    wizard::finishRun(*ctx_);
    OleUninitialize();
  };
  return ui_.start(create, wizard::runMessageLoop, finish);
}

void WizardHarness::switchToOptions() const {
  click(wizard::kIdAgreementCheck);
  click(wizard::kIdAccept);
}

// A package message posted last has arrived when its mark is on the package label. (A sent
// message would not do: the window thread takes sent messages before posted ones.)
bool WizardHarness::sync() {
  const unsigned n = ++syncs_;
  PostMessageW(window(), prog::WM_JOB_PACKAGE, 0, reinterpret_cast<LPARAM>(new prog::TotalInfo{n, 99999, 0}));
  const std::wstring marker = L"安装包 " + std::to_wstring(n) + L"/99999";
  return waitUntil([&] { return text(wizard::kIdPackageLabel) == marker; });
}

bool WizardHarness::runWorker(void (*body)(wizard::Ctx*, HWND)) {
  std::thread worker(body, ctx_.get(), window());
  worker.join();
  return sync();
}

}  // namespace testing_support
