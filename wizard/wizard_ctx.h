// The state record of one wizard window, shared with its retrieval threads (agreement and hints);
// the uninstall's removal thread gets what it needs by value.
// It has no lock: the window writes what a thread reads before it starts the thread, and threads
// report back only through posted messages. The install job gets a request of its own.
#pragma once

#include "documents/agreement.h"
#include "documents/hints.h"
#include "install/gpu.h"
#include "install/install_job.h"
#include "prog/window_job.h"
#include "util/handles.h"
#include "wizard/agreement_events.h"

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace wizard {

// The job the wizard runs for an install: install::runInstall, or a test's own.
using InstallJob =
    std::function<prog::JobResult(const install::InstallRequest&, prog::JobSink&, CancelEvent)>;

struct Ctx {
  std::wstring baseUrl;
  std::wstring mainExePath;  // the client the last successful install found
  bool createSubfolder = false;
  std::wstring installDir;
  bool gpuCapable = false;
  bool cudaRequested = false;
  std::wstring existingInstallDir;
  std::atomic<bool> installing{false};
  util::Handle installLock;  // held from the start of an install to its end
  util::Handle folderLock;   // the install folder's, held alike
  util::Handle cancelEvent;
  prog::WindowJob installRun;
  util::GdiObject titleFont;
  util::GdiObject bodyFont;
  util::GdiObject linkFont;
  std::thread agreementThread;
  util::Handle agreementCancelEvent;
  bool optionsShown = false;
  // The agreement on the page when the user accepted it and its version: the install keeps that
  // very text in the install folder. The built-in one until the server's replaces it.
  std::wstring agreementVersion = documents::kBuiltinAgreementVersion;
  std::wstring agreementText;
  // The uninstaller asks on the window's thread in boxes owned by the window, and removes the
  // folder in place on a thread of its own; nothing of the wizard may start meanwhile.
  bool uninstalling = false;
  std::thread uninstallThread;
  util::Handle uninstallLock;  // the install folder's, held from the questions to the closing box
  std::thread hintsThread;
  util::Handle hintsCancelEvent;
  std::wstring dataSourceUrls[2];
  std::wstring localModelHelpUrl;
  std::wstring extraLinkUrl;
  std::vector<documents::ModelEntry> models;
  std::wstring recommendedTier;
  Microsoft::WRL::ComPtr<IWebBrowser2> browser;
  Microsoft::WRL::ComPtr<IOleInPlaceObject> browserInPlace;
  AgreementEvents browserEvents;  // declared after the browser, so it is unadvised first
  RECT browserRect{};
  bool browserCreated = false;

  // The button that Enter presses (DM_SETDEFID, DM_GETDEFID), and the control that had the focus
  // when the window was deactivated, which gets it back on activation (0: the first control).
  int defaultButton = 0;
  int focusedControl = 0;

  InstallJob installJob = install::runInstall;
  // Opens an address that passed the link rules; null: the shell opens it. Tests record it.
  void (*openAddress)(HWND window, const std::wstring& address) = nullptr;
  // Looks at the graphics adapters when the window is created; tests give a fixed machine.
  install::GpuInfo (*gpuDetector)() = install::detectGpu;
  // Whether the window starts the agreement and hints retrievals when it is created.
  bool startRetrievals = true;
};

}  // namespace wizard
