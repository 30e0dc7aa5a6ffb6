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

using InstallJob =
    std::function<prog::JobResult(const install::InstallRequest&, prog::JobSink&, CancelEvent)>;

// Opens an address in the user's browser.
void openInShell(HWND window, const std::wstring& address);

// What the window takes from outside its own state: the job an install runs, how it opens a
// link, how it looks at the graphics adapters, and whether it fetches the server's documents
// when it is created. The program runs with these; createWizardWindow takes others (a test's).
struct Collaborators {
  InstallJob installJob = install::runInstall;
  void (*openAddress)(HWND window, const std::wstring& address) = openInShell;
  install::GpuInfo (*detectGpu)() = install::detectGpu;
  bool startRetrievals = true;
};

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

  // Those the window was created with.
  Collaborators collaborators;
};

}  // namespace wizard
