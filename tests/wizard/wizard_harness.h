// The real wizard window on a thread of its own with its message loop, for tests that drive it
// from the test thread, and a temporary folder of the test's own for the wizard's temporary
// files and its debug log.
#pragma once

#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "support/window_harness.h"
#include "wizard/wizard_ctx.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// While it lives, the process's temporary folder (TMP, TEMP) is a fresh folder of its own, so
// that parallel test programs do not share the wizard's temporary files and debug log.
class PrivateTempFolder {
 public:
  PrivateTempFolder();
  ~PrivateTempFolder();
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;

  const std::wstring& path() const { return dir_.path(); }
  std::wstring operator/(const std::wstring& name) const { return dir_ / name; }
  // The lines of the setup debug log so far, each without its time stamp.
  std::vector<std::string> debugLines() const;

 private:
  TempDir dir_;
  std::wstring oldTmp_, oldTemp_;
};

class WizardHarness {
 public:
  WizardHarness() = default;
  ~WizardHarness() { close(); }
  WizardHarness(const WizardHarness&) = delete;
  WizardHarness& operator=(const WizardHarness&) = delete;

  // Creates the window for a record of baseUrl (no existing installation, a fixed 8 GiB GPU);
  // prepare may change the record before the window exists. True when the window is up.
  bool open(const std::wstring& baseUrl, const std::function<void(wizard::Ctx&)>& prepare = {},
            const std::function<void(wizard::Collaborators&)>& collaborate = {});
  // Closes the window (as its close box does) and waits until its thread has ended.
  void close() { ui_.close(); }
  // Waits until the window's thread has ended, for a window closed otherwise.
  void join() { ui_.join(); }

  HWND window() const { return ui_.window(); }
  DWORD threadId() const { return ui_.threadId(); }
  wizard::Ctx& ctx() { return *ctx_; }
  HWND item(int id) const { return GetDlgItem(window(), id); }
  std::wstring text(int id) const { return windowText(item(id)); }
  bool visible(int id) const { return IsWindowVisible(item(id)) != FALSE; }
  void click(int id) const { SendMessageW(item(id), BM_CLICK, 0, 0); }
  void switchToOptions() const;
  // Returns when every message posted to the window before has been handled.
  bool sync();
  // Runs a worker body (retrieveAgreement, retrieveHints) for the window on a thread of the
  // test and waits for it to end and for what it posted to be handled.
  bool runWorker(void (*body)(wizard::Ctx*, HWND));

 private:
  std::unique_ptr<wizard::Ctx> ctx_;
  WindowThread ui_;  // after the record: its thread uses the record until it ends
  unsigned syncs_ = 0;
};

}  // namespace testing_support
