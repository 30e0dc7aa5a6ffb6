// The state record of one wizard run, shared by the window and its worker threads (agreement and
// hints retrieval, the install job). It has no lock: the window writes what a job reads before it
// starts the job, and workers report back only through posted messages.
#pragma once

#include "util/handles.h"
#include "wizard/agreement_events.h"
#include "wizard/gpu.h"
#include "wizard/hints/hints.h"

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace wizard {

struct Ctx;

// The body of the install thread; the wizard starts doInstall, tests may give their own.
using InstallJob = void (*)(Ctx* ctx, HWND window);

struct Ctx {
  std::wstring baseUrl;
  std::wstring mainExePath;  // written by the install job only
  bool createSubfolder = false;
  std::wstring installDir;
  bool gpuCapable = false;
  bool cudaRequested = false;
  std::wstring existingInstallDir;
  std::atomic<bool> installing{false};
  util::Handle cancelEvent;
  std::thread installThread;
  util::GdiObject titleFont;
  util::GdiObject bodyFont;
  util::GdiObject linkFont;
  std::thread agreementThread;
  util::Handle agreementCancelEvent;
  bool optionsShown = false;
  // The agreement on the page when the user accepted it and its version: the install keeps that
  // very text in the install folder. The built-in one until the server's replaces it.
  std::wstring agreementVersion = L"builtin";
  std::wstring agreementText;
  // The uninstaller runs on the window's thread with its questions owned by the window; nothing
  // of the wizard may start meanwhile.
  bool uninstalling = false;
  std::thread hintsThread;
  util::Handle hintsCancelEvent;
  std::wstring dataSourceUrls[2];
  std::wstring localModelHelpUrl;
  std::wstring extraLinkUrl;
  std::vector<ModelEntry> models;
  std::wstring recommendedTier;
  Microsoft::WRL::ComPtr<IWebBrowser2> browser;
  Microsoft::WRL::ComPtr<IOleInPlaceObject> browserInPlace;
  AgreementEvents browserEvents;  // declared after the browser, so it is unadvised first
  RECT browserRect{};
  bool browserCreated = false;

  InstallJob installJob = nullptr;
  // Looks at the graphics adapters when the window is created; tests give a fixed machine.
  GpuInfo (*gpuDetector)() = detectGpu;
  // Whether the window starts the agreement and hints retrievals when it is created.
  bool startRetrievals = true;
};

}  // namespace wizard
