// The real wizard window, created on a thread of its own with a message loop, driven from the
// test thread with ordinary Win32 calls, as a user or the worker threads would.
#include "documents/texts.h"
#include "install/install_lock.h"
#include "install/texts.h"
#include "prog/reporter.h"
#include "uninstall/texts.h"
#include "support/live_allocations.h"
#include "support/wait_until.h"
#include "support/window_checks.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/payload.h"
#include "util/text.h"
#include "wizard/layout.h"
#include "wizard/texts.h"
#include "wizard/wizard_ctx.h"
#include "wizard/wizard_harness.h"
#include "wizard/wizard_ids.h"
#include "wizard/wizard_messages.h"
#include "wizard/wizard_window.h"

#include "util/texts.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <set>
#include <thread>
#include <vector>

using namespace wizard;
using testing_support::waitUntil;
using testing_support::windowText;

namespace {

// The stand-in for the install job: it ends when cancelled or when the test releases it.
HANDLE g_releaseJob = nullptr;
std::atomic<int> g_jobsStarted{0};

prog::JobResult heldJob(const install::InstallRequest&, prog::JobSink&, CancelEvent cancel) {
  ++g_jobsStarted;
  HANDLE events[2] = {cancel, g_releaseJob};
  const DWORD which = WaitForMultipleObjects(2, events, FALSE, 30000);
  prog::JobResult result;
  if (which == WAIT_OBJECT_0) result.failure = util::cancelledFailure();
  return result;
}

prog::JobResult throwingJob(const install::InstallRequest&, prog::JobSink&, CancelEvent) { throw std::bad_alloc(); }

// The addresses the window decided to open, in place of a browser.
std::vector<std::wstring> g_opened;
void recordAddress(HWND, const std::wstring& address) { g_opened.push_back(address); }

install::GpuInfo noGpu() { return install::GpuInfo{}; }

struct FoundBox {
  HWND box = nullptr;
  std::wstring text;
};

// A message box of the given thread: its text, found by its class and the text control's id.
FoundBox findMessageBox(DWORD threadId) {
  FoundBox found;
  EnumThreadWindows(
      threadId,
      [](HWND w, LPARAM param) -> BOOL {
        wchar_t cls[32] = {};
        GetClassNameW(w, cls, 32);
        if (std::wstring(cls) != L"#32770" || !IsWindowVisible(w)) return TRUE;
        auto* out = reinterpret_cast<FoundBox*>(param);
        out->box = w;
        out->text = windowText(GetDlgItem(w, 0xFFFF));
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

class WizardWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_releaseJob = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  static void TearDownTestSuite() { CloseHandle(g_releaseJob); }

  void open(const std::function<void(Ctx&)>& prepare = {},
            const std::function<void(Collaborators&)>& collaborate = {}) {
    ResetEvent(g_releaseJob);
    ui_ = std::make_unique<testing_support::WizardHarness>();
    const bool up = ui_->open(L"http://127.0.0.1:9", prepare, [collaborate](Collaborators& with) {
      with.installJob = heldJob;
      with.startRetrievals = false;  // these tests post the workers' messages themselves
      with.openAddress = recordAddress;
      if (collaborate) collaborate(with);
    });
    window_ = ui_->window();
    ctx_ = &ui_->ctx();
    ASSERT_TRUE(up);
  }

  void TearDown() override {
    if (!ui_) return;
    if (window_ && IsWindow(window_) && ctx_->installing) {
      SetEvent(g_releaseJob);
      waitUntil([this] { return !ctx_->installing; });
    }
    ui_->close();
  }

  HWND item(int id) const { return ui_->item(id); }
  bool visible(int id) const { return ui_->visible(id); }
  bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
  std::wstring text(int id) const { return ui_->text(id); }
  void click(int id) { ui_->click(id); }
  // For buttons that open a modal box: the click must not block the test thread.
  void clickLater(int id) { PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void setText(int id, const std::wstring& t) { SendMessageW(item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.c_str())); }
  // Everything posted before has been handled; marks the package label and bar only.
  void sync() { ASSERT_TRUE(ui_->sync()); }

  // Waits for a message box of the window's thread, answers it with the button, returns its text.
  std::wstring answerBox(int button) {
    FoundBox found;
    waitUntil([&] {
      found = findMessageBox(ui_->threadId());
      return found.box != nullptr;
    });
    if (!found.box) return L"<no message box>";
    PostMessageW(found.box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    waitUntil([&] { return !IsWindow(found.box); });
    return found.text;
  }

  template <typename T>
  void post(UINT message, WPARAM wParam, std::unique_ptr<T> payload) {
    std::thread worker([&] { ASSERT_TRUE(util::postPayload(window_, message, wParam, std::move(payload))); });
    worker.join();
  }

  void switchToOptions() { ui_->switchToOptions(); }

  void startInstall() {
    const int before = g_jobsStarted;
    setText(kIdFolderEdit, util::tempDirectory() + L"\\OrvaloSetup_test_install");
    click(kIdInstall);
    ASSERT_TRUE(waitUntil([this, before] { return g_jobsStarted > before && ctx_->installing; }));
  }

  // The control with the keyboard focus on the window's thread.
  int focusedId() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(ui_->threadId(), &info) || !info.hwndFocus) return 0;
    return GetDlgCtrlID(info.hwndFocus);
  }

  // A key as the keyboard delivers it: down and up posted to the focused control, so that they
  // pass the window's message loop and its dialog manager in order with the sync message. Shift
  // is held in the key state the window's thread reads (the threads share it while attached).
  void press(WORD vk, bool shift = false) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetGUIThreadInfo(ui_->threadId(), &info));
    HWND target = info.hwndFocus ? info.hwndFocus : window_;
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
    AttachThreadInput(GetCurrentThreadId(), ui_->threadId(), TRUE);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageW(target, WM_KEYDOWN, vk, scan | 1);
    PostMessageW(target, WM_KEYUP, vk, scan | 1 | (1 << 30) | (1u << 31));
    settle();
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    AttachThreadInput(GetCurrentThreadId(), ui_->threadId(), FALSE);
  }

  // Like sync(), but a window that a key closed counts as settled too.
  void settle() {
    const unsigned n = ++settles_;
    util::postPayload(window_, prog::WM_JOB_PACKAGE, 0, std::make_unique<prog::TotalInfo>(prog::TotalInfo{n, 99999, 0}));
    const std::wstring marker = L"安装包 " + std::to_wstring(n) + L"/99999";
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(window_) || text(kIdPackageLabel) == marker; }));
  }

  unsigned settles_ = 50000;  // apart from the harness's own sync numbers

  // The ids that Tab (or Shift+Tab) reaches from the focused control, one per press.
  std::vector<int> tabWalk(size_t presses, bool backwards = false) {
    std::vector<int> ids;
    for (size_t i = 0; i < presses; ++i) {
      press(VK_TAB, backwards);
      ids.push_back(focusedId());
    }
    return ids;
  }

  void changeDpi(int dpi) {
    testing_support::sendDpiChanged(window_, dpi, clientRect(dpi).w, clientRect(dpi).h);
  }

  std::set<int> visibleControls() const {
    std::set<int> ids;
    for (int id = kIdTitle; id <= kIdPackageBar; ++id) {
      if (visible(id)) ids.insert(id);
    }
    return ids;
  }

  std::unique_ptr<testing_support::WizardHarness> ui_;
  Ctx* ctx_ = nullptr;  // the harness's
  HWND window_ = nullptr;
};

const std::set<int> kAgreementPage = {kIdTitle,          kIdAgreementTitle, kIdFullAgreementLink,
                                      kIdAgreementEdit,  kIdAgreementCheck, kIdDecline,
                                      kIdAccept};

}  // namespace

TEST_F(WizardWindow, OpensOnTheAgreementPageWithTheBuiltInText) {
  open();
  wchar_t cls[64] = {};
  GetClassNameW(window_, cls, 64);
  EXPECT_STREQ(cls, L"OrvaloSetupWizardWnd");
  EXPECT_EQ(windowText(window_), kWindowTitle);
  const LONG style = GetWindowLongW(window_, GWL_STYLE);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(visibleControls(), kAgreementPage);
  EXPECT_FALSE(enabled(kIdAccept));
  EXPECT_EQ(text(kIdAgreementEdit).rfind(L"Orvalo量化 用户安装协议", 0), 0u);
  EXPECT_EQ(ctx_->agreementVersion, L"builtin");
  EXPECT_EQ(ctx_->agreementText.rfind(L"Orvalo量化 用户安装协议", 0), 0u);
}

TEST_F(WizardWindow, AgreementCheckboxEnablesAcceptExactlyWhenChecked) {
  open();
  click(kIdAgreementCheck);
  EXPECT_TRUE(enabled(kIdAccept));
  click(kIdAgreementCheck);
  EXPECT_FALSE(enabled(kIdAccept));
  click(kIdAgreementCheck);
  EXPECT_TRUE(enabled(kIdAccept));
}

TEST_F(WizardWindow, AcceptSwitchesToTheOptionsPage) {
  open();
  switchToOptions();
  EXPECT_TRUE(ctx_->optionsShown);
  std::set<int> expected = {kIdTitle,          kIdSubtitle,     kIdFolderLabel,   kIdFolderEdit,
                            kIdBrowse,         kIdSubfolder,    kIdDataSourceTitle, kIdDataSourceIntro,
                            kIdDataSourceLink1, kIdDataSourceLink2, kIdModelTitle, kIdGpuText,
                            kIdModelListLabel, kIdModelRow0,    kIdModelRow1,     kIdModelRow2,
                            kIdModelFileNote,  kIdMirrorNote,   kIdModelHelpLink, kIdCancel,
                            kIdInstall};
  expected.insert(kIdCuda);
  EXPECT_EQ(visibleControls(), expected);
  EXPECT_EQ(text(kIdInstall), kInstallButton);
  EXPECT_EQ(text(kIdFolderEdit), util::localAppDataDirectory() + L"\\Programs\\OrvaloTrader");
  // Exactly one built-in model row carries the recommendation.
  int marked = 0;
  for (int id = kIdModelRow0; id <= kIdModelRow2; ++id) {
    if (text(id).find(kRecommendedMark) != std::wstring::npos) ++marked;
  }
  EXPECT_EQ(marked, 1);
}

TEST_F(WizardWindow, DeclineClosesTheWindow) {
  open();
  click(kIdDecline);
  EXPECT_TRUE(waitUntil([this] { return !IsWindow(window_); }));
}

TEST_F(WizardWindow, AlreadyInstalledVariantStartsOnOptionsWithUninstall) {
  open([](Ctx& ctx) { ctx.existingInstallDir = L"D:\\Apps\\OrvaloTrader"; });
  EXPECT_TRUE(ctx_->optionsShown);
  EXPECT_EQ(text(kIdFolderEdit), L"D:\\Apps\\OrvaloTrader");
  EXPECT_EQ(text(kIdTitle), kInstalledTitle);
  EXPECT_EQ(text(kIdSubtitle), kInstalledSubtitle);
  EXPECT_EQ(text(kIdInstall), kRepairButton);
  EXPECT_TRUE(visible(kIdUninstall));
  EXPECT_FALSE(visible(kIdAgreementEdit));
  EXPECT_FALSE(visible(kIdAccept));

  // An agreement from the server changes nothing once the options page is up.
  auto payload = std::make_unique<AgreementPayload>();
  payload->version = L"2026.12";
  payload->text = L"server text";
  post(WM_WIZ_AGREEMENT, 0, std::move(payload));
  sync();
  EXPECT_EQ(ctx_->agreementVersion, L"builtin");
}

TEST_F(WizardWindow, InstallButtonRefusesBadFoldersWithAWarning) {
  open();
  switchToOptions();
  setText(kIdFolderEdit, L"");
  clickLater(kIdInstall);
  EXPECT_EQ(answerBox(IDOK), install::kDirEmpty);
  setText(kIdFolderEdit, L"C:\\");
  clickLater(kIdInstall);
  EXPECT_EQ(answerBox(IDOK), install::kDirDriveRoot);
  std::wstring local = util::localAppDataDirectory();
  for (wchar_t& c : local) c = static_cast<wchar_t>(towupper(c));
  setText(kIdFolderEdit, local);
  clickLater(kIdInstall);
  EXPECT_EQ(answerBox(IDOK), install::kDirLocalAppDataRoot);
  EXPECT_FALSE(ctx_->installing);
  EXPECT_EQ(g_jobsStarted, 0);
}

// Another process owns the folder (an upgrade waiting for its client): the wizard says so and
// starts nothing. Its own install owns the folder until the job has ended.
TEST_F(WizardWindow, AFolderThatAnotherRunOwnsIsRefusedAndAnInstallOwnsItsFolder) {
  const std::wstring folder = util::tempDirectory() + L"\\OrvaloSetup_test_install";
  open();
  switchToOptions();
  const int jobsBefore = g_jobsStarted;
  util::Handle held = install::acquireFolderLock(folder + L"\\");
  ASSERT_TRUE(held);
  setText(kIdFolderEdit, folder);
  clickLater(kIdInstall);
  EXPECT_EQ(answerBox(IDOK), kFolderBusy);
  sync();
  EXPECT_FALSE(ctx_->installing);
  EXPECT_EQ(g_jobsStarted, jobsBefore);
  EXPECT_TRUE(install::acquireInstallLock()) << "the refusal keeps no lock";

  held.reset();
  startInstall();
  EXPECT_FALSE(install::acquireFolderLock(folder));
  SetEvent(g_releaseJob);
  ASSERT_TRUE(waitUntil([this] { return !ctx_->installing; }));
  sync();
  EXPECT_TRUE(install::acquireFolderLock(folder));
}

// The uninstaller asks in boxes owned by the wizard: until it has ended, the wizard's buttons and
// close box start nothing. A refusal leaves the wizard
// usable; an uninstall that went its way (here: declined at the first question) closes it.
TEST_F(WizardWindow, WizardIsDisabledWhileItsUninstallRuns) {
  const std::wstring installed = util::tempDirectory() + L"\\OrvaloSetup_wizard_uninstall";
  ASSERT_TRUE(util::createDirectories(installed));
  ASSERT_TRUE(util::writeFile(installed + L"\\OrvaloSetup.exe", "MZ", 2));
  ASSERT_TRUE(util::writeFile(installed + L"\\channel.ini", "[Channel]", 9));
  for (const bool isInstallation : {false, true}) {
    open([&](Ctx& ctx) { ctx.existingInstallDir = isInstallation ? installed : installed + L"_missing"; });
    const int jobsBefore = g_jobsStarted;
    clickLater(kIdUninstall);
    FoundBox box;
    ASSERT_TRUE(waitUntil([&] { return (box = findMessageBox(ui_->threadId())).box != nullptr; }));
    EXPECT_FALSE(IsWindowEnabled(window_));
    EXPECT_EQ(GetWindow(box.box, GW_OWNER), window_);
    PostMessageW(window_, WM_COMMAND, MAKEWPARAM(kIdInstall, BN_CLICKED), 0);
    PostMessageW(window_, WM_CLOSE, 0, 0);
    const std::wstring question = answerBox(isInstallation ? IDNO : IDOK);
    if (isInstallation) {
      EXPECT_EQ(question, uninstall::kConfirmPrefix + installed + uninstall::kConfirmSuffix);
      EXPECT_TRUE(waitUntil([this] { return !IsWindow(window_); }));
    } else {
      EXPECT_EQ(question, uninstall::kNotInstalledPrefix + installed + L"_missing");
      sync();
      EXPECT_TRUE(IsWindowEnabled(window_));
      EXPECT_FALSE(ctx_->uninstalling);
    }
    EXPECT_EQ(g_jobsStarted, jobsBefore);
    TearDown();
  }
  EXPECT_TRUE(util::isExistingFile(installed + L"\\channel.ini"));
  util::deleteDirRecursive(installed);
}

// The folder is removed in place on a thread of the wizard's: while a file held open makes the
// removal try again, the disabled wizard answers, and the file released then goes with the next
// attempt. A removal on the window's thread would answer only after its last attempt, with the
// file still there, and its closing box would say so.
TEST_F(WizardWindow, WindowAnswersWhileItsUninstallRemovesTheFolder) {
  const std::wstring installed = util::tempDirectory() + L"\\OrvaloSetup_wizard_in_place";
  ASSERT_TRUE(util::createDirectories(installed));
  ASSERT_TRUE(util::writeFile(installed + L"\\OrvaloSetup.exe", "MZ", 2));
  ASSERT_TRUE(util::writeFile(installed + L"\\channel.ini", "[Channel]", 9));
  ASSERT_TRUE(util::writeFile(installed + L"\\client.log", "log", 3));
  util::FileHandle held(CreateFileW((installed + L"\\client.log").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  open([&](Ctx& ctx) { ctx.existingInstallDir = installed; });
  clickLater(kIdUninstall);
  EXPECT_EQ(answerBox(IDYES), uninstall::kConfirmPrefix + installed + uninstall::kConfirmSuffix);
  EXPECT_EQ(answerBox(IDNO), uninstall::kPurgeQuestion);
  ASSERT_TRUE(waitUntil([&] { return !util::isExistingFile(installed + L"\\OrvaloSetup.exe"); }));

  SendMessageW(window_, WM_NULL, 0, 0);
  EXPECT_FALSE(IsWindowEnabled(window_));
  EXPECT_TRUE(ctx_->uninstalling);
  EXPECT_FALSE(install::acquireFolderLock(installed)) << "the wizard owns the folder while removing";
  held.reset();

  FoundBox closing;
  ASSERT_TRUE(waitUntil([&] { return (closing = findMessageBox(ui_->threadId())).box != nullptr; }, 15000));
  EXPECT_EQ(GetWindow(closing.box, GW_OWNER), window_);
  EXPECT_EQ(answerBox(IDOK), uninstall::kRemoved);
  EXPECT_TRUE(waitUntil([this] { return !IsWindow(window_); }));
  EXPECT_FALSE(util::isExistingFolder(installed));
  util::deleteDirRecursive(installed);
}

TEST_F(WizardWindow, InstallingStateRefusesCloseAndAsksBeforeCancelling) {
  open();
  switchToOptions();
  g_jobsStarted = 0;
  startInstall();
  EXPECT_EQ(ctx_->installDir, util::tempDirectory() + L"\\OrvaloSetup_test_install");
  EXPECT_FALSE(enabled(kIdFolderEdit));
  EXPECT_FALSE(enabled(kIdBrowse));
  EXPECT_TRUE(enabled(kIdCancel));
  EXPECT_FALSE(enabled(kIdInstall));
  EXPECT_EQ(text(kIdInstall), kInstallingButton);
  for (int id : {kIdOverallBar, kIdStatus, kIdPackageBar, kIdPackageLabel}) EXPECT_TRUE(visible(id)) << id;

  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window_)) << "closing while installing only beeps";

  clickLater(kIdCancel);
  EXPECT_EQ(answerBox(IDNO), kCancelQuestion);
  sync();
  EXPECT_TRUE(ctx_->installing);

  clickLater(kIdCancel);
  answerBox(IDYES);
  ASSERT_TRUE(waitUntil([this] { return !ctx_->installing; }));
  sync();
  EXPECT_EQ(text(kIdStatus), kFailurePrefix + std::wstring(L"已取消"));
  EXPECT_EQ(text(kIdInstall), kRetryButton);
  EXPECT_TRUE(enabled(kIdInstall));
  EXPECT_TRUE(enabled(kIdFolderEdit));
  EXPECT_TRUE(visible(kIdOverallBar));

  // A retry starts a fresh job with the event reset.
  startInstall();
  EXPECT_EQ(g_jobsStarted, 2);
  EXPECT_EQ(WaitForSingleObject(ctx_->cancelEvent.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(WizardWindow, SuccessShowsTheTextAndClosesAfterTheDelay) {
  open();
  switchToOptions();
  startInstall();
  SetEvent(g_releaseJob);
  ASSERT_TRUE(waitUntil([this] { return text(kIdStatus) == kSuccessStatus; }));
  const auto shown = std::chrono::steady_clock::now();
  EXPECT_EQ(LOWORD(SendMessageW(window_, DM_GETDEFID, 0, 0)), kIdCancel) << "Enter now closes";
  EXPECT_FALSE(enabled(kIdInstall));
  EXPECT_EQ(text(kIdInstall), kInstallingButton);
  EXPECT_FALSE(visible(kIdOverallBar));
  EXPECT_FALSE(visible(kIdPackageLabel));
  ASSERT_TRUE(waitUntil([this] { return !IsWindow(window_); }, 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - shown, std::chrono::milliseconds(1000));
}

TEST_F(WizardWindow, CancelDuringTheSuccessDelayClosesAtOnce) {
  open();
  switchToOptions();
  startInstall();
  SetEvent(g_releaseJob);
  ASSERT_TRUE(waitUntil([this] { return !ctx_->installing; }));
  sync();
  click(kIdCancel);
  EXPECT_FALSE(IsWindow(window_));
}

TEST_F(WizardWindow, FailureWithoutTextSaysUnknownError) {
  open();
  switchToOptions();
  PostMessageW(window_, prog::WM_JOB_DONE, 0, 0);
  sync();
  EXPECT_EQ(text(kIdStatus), kFailurePrefix + std::wstring(kUnknownError));
  EXPECT_EQ(text(kIdInstall), kRetryButton);
}

TEST_F(WizardWindow, AJobThatThrowsEndsAsAFailureInsteadOfEndingTheProcess) {
  open({}, [](Collaborators& with) { with.installJob = throwingJob; });
  switchToOptions();
  setText(kIdFolderEdit, util::tempDirectory() + L"\\OrvaloSetup_test_install");
  click(kIdInstall);
  ASSERT_TRUE(waitUntil([this] { return text(kIdStatus) == kFailurePrefix + std::wstring(util::kInternalError) + L"std::bad_alloc"; }))
      << util::toUtf8(text(kIdStatus));
  EXPECT_EQ(text(kIdInstall), kRetryButton);
}

TEST_F(WizardWindow, ProgressSwitchesBetweenMarqueeAndRange) {
  open();
  switchToOptions();
  HWND bar = item(kIdOverallBar);
  auto marquee = [bar] { return (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0; };
  EXPECT_TRUE(marquee());
  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{0, 0}));
  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{10, 0}));
  sync();
  EXPECT_TRUE(marquee());

  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{150, 100}));
  sync();
  EXPECT_FALSE(marquee());
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);

  const uint64_t gib = 1ull << 30;
  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{gib, 3 * gib}));
  sync();
  const double range = static_cast<double>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
  const double pos = static_cast<double>(SendMessageW(bar, PBM_GETPOS, 0, 0));
  EXPECT_NEAR(pos / range, 1.0 / 3.0, 1e-6) << pos << " of " << range;

  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{0, 0}));
  sync();
  EXPECT_TRUE(marquee());
}

TEST_F(WizardWindow, PackageMessageSetsLabelAndBar) {
  open();
  switchToOptions();
  post(prog::WM_JOB_STATUS, 0, std::make_unique<std::wstring>(L"正在下载主程序… 15%"));
  post(prog::WM_JOB_PACKAGE, 0, std::make_unique<prog::TotalInfo>(prog::TotalInfo{2, 5, 455}));
  ASSERT_TRUE(waitUntil([this] { return text(kIdPackageLabel) == L"安装包 2/5"; }));
  EXPECT_EQ(SendMessageW(item(kIdPackageBar), PBM_GETRANGE, FALSE, 0), 1000);
  EXPECT_EQ(SendMessageW(item(kIdPackageBar), PBM_GETPOS, 0, 0), 455);
  EXPECT_EQ(text(kIdStatus), L"正在下载主程序… 15%");
}

TEST_F(WizardWindow, AgreementBeforeTheSwitchReplacesTextAndVersion) {
  open();
  auto payload = std::make_unique<AgreementPayload>();
  payload->text = L"无版本";
  post(WM_WIZ_AGREEMENT, 0, std::move(payload));
  sync();
  EXPECT_EQ(ctx_->agreementVersion, L"builtin") << "a server that names no version records none";
  payload = std::make_unique<AgreementPayload>();
  payload->version = L"2026.12";
  payload->text = L"服务器协议\r\n第一条";
  post(WM_WIZ_AGREEMENT, 0, std::move(payload));
  sync();
  EXPECT_EQ(ctx_->agreementVersion, L"2026.12");
  EXPECT_EQ(text(kIdAgreementEdit), L"服务器协议\r\n第一条");
  EXPECT_EQ(ctx_->agreementText, L"服务器协议\r\n第一条");

  switchToOptions();
  payload = std::make_unique<AgreementPayload>();
  payload->version = L"2027.01";
  payload->text = L"late";
  post(WM_WIZ_AGREEMENT, 0, std::move(payload));
  sync();
  EXPECT_EQ(ctx_->agreementVersion, L"2026.12");
  EXPECT_EQ(text(kIdAgreementEdit), L"服务器协议\r\n第一条");
}

TEST_F(WizardWindow, HintsBeforeTheSwitchShowNothingUntilThePageIsUp) {
  open();
  auto hints = std::make_unique<documents::HintsDocument>();
  hints->dataSourceIntro = L"新的说明";
  hints->dataSources = {{L"东方财富：eastmoney.com", L"https://www.eastmoney.com/"}};
  hints->links = {{L"魔搭社区", L"https://modelscope.cn/"}};
  hints->models = {{L"small", L"A", L"https://modelscope.cn/a"},
                   {L"mid", L"B", L"https://modelscope.cn/b"}};
  hints->hasContent = true;
  post(WM_WIZ_HINTS, 0, std::move(hints));
  sync();
  EXPECT_EQ(visibleControls(), kAgreementPage);
  EXPECT_EQ(text(kIdDataSourceIntro), L"新的说明");
  EXPECT_EQ(text(kIdDataSourceLink1), L"东方财富：eastmoney.com");
  EXPECT_TRUE(ctx_->dataSourceUrls[1].empty());

  switchToOptions();
  EXPECT_TRUE(visible(kIdDataSourceLink1));
  EXPECT_FALSE(visible(kIdDataSourceLink2));
  EXPECT_TRUE(visible(kIdExtraLink));
  EXPECT_EQ(text(kIdExtraLink), L"魔搭社区");
  EXPECT_TRUE(visible(kIdModelRow0));
  EXPECT_TRUE(visible(kIdModelRow1));
  EXPECT_FALSE(visible(kIdModelRow2));
}

TEST_F(WizardWindow, HintsAfterTheSwitchApplyAtOnce) {
  open();
  switchToOptions();
  const std::wstring helpBefore = text(kIdModelHelpLink);
  auto hints = std::make_unique<documents::HintsDocument>();
  hints->mirrorNote = L"镜像说明";
  hints->helpUrl = L"https://www.orvalotrader.com/x";  // without a title: the help link stays
  hints->hasContent = true;
  post(WM_WIZ_HINTS, 0, std::move(hints));
  sync();
  EXPECT_EQ(text(kIdMirrorNote), L"镜像说明");
  EXPECT_EQ(text(kIdModelHelpLink), helpBefore);
  // No data sources in the document: the built-in links go away; the models stay.
  EXPECT_FALSE(visible(kIdDataSourceLink1));
  EXPECT_FALSE(visible(kIdDataSourceLink2));
  EXPECT_FALSE(visible(kIdExtraLink));
  EXPECT_TRUE(visible(kIdModelRow2));
  EXPECT_EQ(ctx_->models.size(), 3u);
}

TEST_F(WizardWindow, ModelRowsMarkOnlyTheExactTier) {
  open([](Ctx& ctx) { ctx.existingInstallDir = L"D:\\Apps\\OrvaloTrader"; });
  auto hints = std::make_unique<documents::HintsDocument>();
  hints->models = {{L"mid", L"A", L"https://modelscope.cn/a"},
                   {L"Mid", L"B", L"https://modelscope.cn/b"},
                   {L"mid", L"C", L"https://modelscope.cn/c"}};
  hints->hasContent = true;
  // The tier of this machine does not matter: the test sets its own.
  SendMessageW(window_, WM_NULL, 0, 0);
  ctx_->recommendedTier = L"mid";
  post(WM_WIZ_HINTS, 0, std::move(hints));
  sync();
  EXPECT_EQ(text(kIdModelRow0), L"A" + std::wstring(kRecommendedMark));
  EXPECT_EQ(text(kIdModelRow1), L"B");
  EXPECT_EQ(text(kIdModelRow2), L"C" + std::wstring(kRecommendedMark));
}

TEST_F(WizardWindow, ControlsSitWhereTheLayoutSaysAtTheWindowsDpi) {
  open([](Ctx& ctx) { ctx.existingInstallDir = L"D:\\Apps\\OrvaloTrader"; });
  const int dpi = static_cast<int>(GetDpiForWindow(window_));
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, clientRect(dpi).w);
  EXPECT_EQ(client.bottom, clientRect(dpi).h);
  for (int id = kIdTitle; id <= kIdPackageBar; ++id) {
    RECT r;
    GetWindowRect(item(id), &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    const ControlRect expected = controlRect(id, dpi);
    EXPECT_EQ((ControlRect{r.left, r.top, r.right - r.left, r.bottom - r.top}), expected)
        << "control " << id << " at " << dpi << " DPI";
  }
  const char* expectDpi = getenv("ORVALO_EXPECT_DPI");
  if (expectDpi) {
    EXPECT_EQ(dpi, atoi(expectDpi));
  }
}

TEST_F(WizardWindow, WithoutASuitableGpuTheCudaOptionStaysHidden) {
  open({}, [](Collaborators& with) { with.detectGpu = noGpu; });
  switchToOptions();
  EXPECT_FALSE(visible(kIdCuda));
  EXPECT_EQ(ctx_->recommendedTier, L"small");
  EXPECT_EQ(text(kIdGpuText),
            install::kGpuNoAdapter);
  EXPECT_NE(text(kIdModelRow0).find(kRecommendedMark), std::wstring::npos);
  // A checked but hidden box is ignored when the install starts.
  SendMessageW(item(kIdCuda), BM_SETCHECK, BST_CHECKED, 0);
  startInstall();
  EXPECT_FALSE(ctx_->cudaRequested);
}

TEST_F(WizardWindow, CudaChoiceIsReadWhenTheInstallStarts) {
  open();
  switchToOptions();
  EXPECT_EQ(text(kIdGpuText).rfind(install::kGpuPrefix + std::wstring(L"Test Adapter") + install::kGpuMemoryPrefix + L"8" + install::kGpuMemorySuffix, 0), 0u);
  click(kIdCuda);
  startInstall();
  EXPECT_TRUE(ctx_->cudaRequested);
}

TEST_F(WizardWindow, ControlsHaveTheirStylesAndFonts) {
  open();
  auto style = [this](int id) { return static_cast<DWORD>(GetWindowLongW(item(id), GWL_STYLE)); };
  auto exStyle = [this](int id) { return static_cast<DWORD>(GetWindowLongW(item(id), GWL_EXSTYLE)); };
  const DWORD editBits = WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
  EXPECT_EQ(style(kIdAgreementEdit) & editBits, editBits);
  EXPECT_FALSE(style(kIdAgreementEdit) & WS_BORDER);
  EXPECT_FALSE(exStyle(kIdAgreementEdit) & WS_EX_CLIENTEDGE);
  EXPECT_TRUE(exStyle(kIdFolderEdit) & WS_EX_CLIENTEDGE);
  EXPECT_TRUE(style(kIdFolderEdit) & ES_AUTOHSCROLL);
  EXPECT_EQ(style(kIdAccept) & (WS_TABSTOP | BS_DEFPUSHBUTTON), static_cast<DWORD>(WS_TABSTOP | BS_DEFPUSHBUTTON));
  EXPECT_EQ(style(kIdDecline) & 0xF, static_cast<DWORD>(BS_PUSHBUTTON));
  EXPECT_EQ(style(kIdOverallBar) & (PBS_SMOOTH | PBS_MARQUEE), static_cast<DWORD>(PBS_SMOOTH | PBS_MARQUEE));
  EXPECT_EQ(style(kIdFullAgreementLink) & (SS_NOTIFY | SS_RIGHT), static_cast<DWORD>(SS_NOTIFY | SS_RIGHT));
  EXPECT_EQ(text(kIdModelFileNote), documents::kHintsModelFileNote);

  auto font = [this](int id) { return reinterpret_cast<HGDIOBJ>(SendMessageW(item(id), WM_GETFONT, 0, 0)); };
  for (int id : {kIdTitle, kIdAgreementTitle, kIdDataSourceTitle, kIdModelTitle}) EXPECT_EQ(font(id), ctx_->titleFont.get()) << id;
  for (int id : {kIdAgreementEdit, kIdFolderEdit, kIdInstall, kIdStatus, kIdGpuText}) EXPECT_EQ(font(id), ctx_->bodyFont.get()) << id;
  for (int id : {kIdFullAgreementLink, kIdDataSourceLink1, kIdModelRow2, kIdModelHelpLink}) EXPECT_EQ(font(id), ctx_->linkFont.get()) << id;
  LOGFONTW link{};
  ASSERT_NE(GetObjectW(ctx_->linkFont.get(), sizeof link, &link), 0);
  EXPECT_TRUE(link.lfUnderline);
  LOGFONTW title{};
  ASSERT_NE(GetObjectW(ctx_->titleFont.get(), sizeof title, &title), 0);
  EXPECT_EQ(title.lfWeight, 600);
}

TEST_F(WizardWindow, LinksAreColouredButTheAgreementLinkIsNot) {
  open();
  HDC dc = CreateCompatibleDC(nullptr);
  for (int id : {kIdDataSourceLink1, kIdModelRow0, kIdModelHelpLink, kIdExtraLink}) {
    SetTextColor(dc, RGB(1, 2, 3));
    const LRESULT brush = SendMessageW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(item(id)));
    EXPECT_EQ(GetTextColor(dc), static_cast<COLORREF>(0x00CC6600)) << id;
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
  }
  SetTextColor(dc, RGB(1, 2, 3));
  SendMessageW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(item(kIdFullAgreementLink)));
  EXPECT_NE(GetTextColor(dc), static_cast<COLORREF>(0x00CC6600));
  DeleteDC(dc);
}

TEST_F(WizardWindow, NoPayloadLeaksWhateverIsLeftInTheQueue) {
  // A first window warms up whatever the system keeps for good.
  open();
  SendMessageW(window_, WM_CLOSE, 0, 0);
  ui_->join();
  ui_.reset();
  const long baseline = testing_support::liveAllocations();

  open();
  HWND window = window_;
  std::thread worker([window] {
    for (int i = 0; i < 40; ++i) {
      if (i == 20) PostMessageW(window, WM_CLOSE, 0, 0);
      util::postPayload(window, prog::WM_JOB_STATUS, 0, std::make_unique<std::wstring>(L"正在下载依赖包… 10%"));
      util::postPayload(window, prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{1, 2}));
      util::postPayload(window, prog::WM_JOB_PACKAGE, 0, std::make_unique<prog::TotalInfo>(prog::TotalInfo{1, 2, 3}));
      auto agreement = std::make_unique<AgreementPayload>();
      agreement->text = std::wstring(300, L'协');
      util::postPayload(window, WM_WIZ_AGREEMENT, 0, std::move(agreement));
      auto hints = std::make_unique<documents::HintsDocument>();
      hints->mirrorNote = std::wstring(100, L'x');
      util::postPayload(window, WM_WIZ_HINTS, 0, std::move(hints));
    }
  });
  worker.join();
  ui_->join();
  ui_.reset();
  EXPECT_EQ(testing_support::liveAllocations(), baseline);
}

// ---- keyboard --------------------------------------------------------------------------------

TEST_F(WizardWindow, KeysWalkTheAgreementPageCheckTheBoxAndEnterAccepts) {
  open();
  EXPECT_EQ(focusedId(), kIdFullAgreementLink) << "the first control has the focus";
  // "同意并继续" is disabled, so Tab passes it by until the box is checked.
  EXPECT_EQ(tabWalk(4), (std::vector<int>{kIdAgreementEdit, kIdAgreementCheck, kIdDecline, kIdFullAgreementLink}));
  EXPECT_EQ(tabWalk(2, true), (std::vector<int>{kIdDecline, kIdAgreementCheck}));
  press(VK_SPACE);
  EXPECT_EQ(IsDlgButtonChecked(window_, kIdAgreementCheck), static_cast<UINT>(BST_CHECKED));
  EXPECT_TRUE(enabled(kIdAccept));
  EXPECT_EQ(tabWalk(2), (std::vector<int>{kIdDecline, kIdAccept}));
  EXPECT_EQ(tabWalk(3, true), (std::vector<int>{kIdDecline, kIdAgreementCheck, kIdAgreementEdit}));

  // Enter in the agreement text presses the default button, not a line break.
  press(VK_RETURN);
  sync();
  EXPECT_TRUE(ctx_->optionsShown);
  EXPECT_EQ(focusedId(), kIdFolderEdit) << "the first control of the options page has the focus";
}

TEST_F(WizardWindow, TabWalksTheOptionsPageInReadingOrderBothWays) {
  open();
  switchToOptions();
  ASSERT_EQ(focusedId(), kIdFolderEdit);
  const std::vector<int> forward = {kIdBrowse,    kIdSubfolder, kIdDataSourceLink1, kIdDataSourceLink2,
                                    kIdCuda,      kIdModelRow0, kIdModelRow1,       kIdModelRow2,
                                    kIdModelHelpLink, kIdCancel, kIdInstall,        kIdFolderEdit};
  EXPECT_EQ(tabWalk(forward.size()), forward);
  std::vector<int> backward(forward.rbegin() + 1, forward.rend());
  backward.push_back(kIdFolderEdit);
  EXPECT_EQ(tabWalk(backward.size(), true), backward);

  // Space on the focused check box checks it, and the wizard takes note.
  EXPECT_EQ(tabWalk(2), (std::vector<int>{kIdBrowse, kIdSubfolder}));
  press(VK_SPACE);
  EXPECT_TRUE(ctx_->createSubfolder);
}

TEST_F(WizardWindow, EnterInstallsEscAsksBeforeCancellingAndEnterRetries) {
  open();
  switchToOptions();
  setText(kIdFolderEdit, util::tempDirectory() + L"\\OrvaloSetup_test_install");
  const int before = g_jobsStarted;
  press(VK_RETURN);
  ASSERT_TRUE(waitUntil([&] { return g_jobsStarted == before + 1 && ctx_->installing; }));
  EXPECT_EQ(focusedId(), kIdCancel) << "the disabled controls handed the focus on";

  press(VK_ESCAPE);
  EXPECT_EQ(answerBox(IDNO), kCancelQuestion);
  sync();
  EXPECT_TRUE(ctx_->installing);
  press(VK_ESCAPE);
  answerBox(IDYES);
  ASSERT_TRUE(waitUntil([this] { return !ctx_->installing; }));
  sync();
  EXPECT_EQ(text(kIdInstall), kRetryButton);

  press(VK_RETURN);
  EXPECT_TRUE(waitUntil([&] { return g_jobsStarted == before + 2; }));
}

TEST_F(WizardWindow, EscOnTheAgreementPageClosesTheWindow) {
  open();
  press(VK_ESCAPE);
  EXPECT_TRUE(waitUntil([this] { return !IsWindow(window_); }));
}

// Enter on a focused link opens its address, when the address passes the link rules, and does
// not press the default button; a double-click opens it once.
TEST_F(WizardWindow, LinksOpenWithEnterAndOnceForADoubleClick) {
  open();
  switchToOptions();
  g_opened.clear();
  const std::wstring source = ctx_->dataSourceUrls[0];
  EXPECT_EQ(tabWalk(3).back(), kIdDataSourceLink1);
  press(VK_RETURN);
  EXPECT_EQ(g_opened, (std::vector<std::wstring>{source}));
  EXPECT_FALSE(ctx_->installing);
  EXPECT_EQ(g_jobsStarted, 0);

  auto hints = std::make_unique<documents::HintsDocument>();
  hints->dataSources = {{L"钓鱼", L"https://evil.example/"}};
  hints->hasContent = true;
  post(WM_WIZ_HINTS, 0, std::move(hints));
  sync();
  press(VK_RETURN);
  EXPECT_EQ(g_opened.size(), 1u) << "an address off the rules stays closed";

  HWND row = item(kIdModelRow0);
  for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) {
    PostMessageW(row, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(2, 2));
  }
  sync();
  EXPECT_EQ(g_opened, (std::vector<std::wstring>{source, ctx_->models[0].url}));
}

// The hidden agreement edit lies over most of the options page; the hand must still show over
// the links below it, and only there.
TEST_F(WizardWindow, HandCursorShowsOverVisibleLinksOnly) {
  open();
  switchToOptions();
  auto cursorOver = [this](int id) {
    RECT r;
    GetWindowRect(item(id), &r);
    SetCursorPos(r.left + 3, (r.top + r.bottom) / 2);
    AttachThreadInput(GetCurrentThreadId(), ui_->threadId(), TRUE);
    SendMessageW(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    HCURSOR shown = GetCursor();
    AttachThreadInput(GetCurrentThreadId(), ui_->threadId(), FALSE);
    return shown;
  };
  const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  EXPECT_EQ(cursorOver(kIdModelRow0), hand);
  EXPECT_EQ(cursorOver(kIdDataSourceLink1), hand);
  EXPECT_NE(cursorOver(kIdMirrorNote), hand);
}

// ---- DPI -------------------------------------------------------------------------------------

// Moving to a monitor of another DPI: every control where the layout puts it, inside the client
// area, with the fonts of that DPI and its whole text. Screenshots of each DPI go to
// ORVALO_SCREENSHOT_DIR when it is set.
TEST_F(WizardWindow, DpiChangeLaysOutAgainWithFontsOfTheNewDpi) {
  open();
  auto check = [this](int dpi, const char* page) {
    RECT client;
    GetClientRect(window_, &client);
    // The system cuts a window taller than the screen (1200 pixels here) to the screen; at such a
    // DPI only the layout test can check that the controls lie inside the client area.
    const bool fitsOnScreen = clientRect(dpi).h < GetSystemMetrics(SM_CYSCREEN);
    if (fitsOnScreen) {
      EXPECT_GE(client.bottom, clientRect(dpi).h) << dpi;
    }
    for (int id = kIdTitle; id <= kIdPackageBar; ++id) {
      if (!visible(id)) continue;
      RECT r;
      GetWindowRect(item(id), &r);
      MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
      EXPECT_EQ((ControlRect{r.left, r.top, r.right - r.left, r.bottom - r.top}), controlRect(id, dpi))
          << id << " at " << dpi;
      EXPECT_TRUE(!fitsOnScreen || (r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom))
          << id << " at " << dpi;
      const std::wstring cut = testing_support::textDoesNotFit(item(id), dpi);
      EXPECT_TRUE(cut.empty()) << id << " at " << dpi << ": " << util::toUtf8(cut);
    }
    LOGFONTW body{};
    ASSERT_NE(GetObjectW(ctx_->bodyFont.get(), sizeof body, &body), 0);
    EXPECT_EQ(body.lfHeight, testing_support::messageFontHeight(dpi)) << dpi;
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(item(kIdTitle), WM_GETFONT, 0, 0)), ctx_->titleFont.get());
    testing_support::saveScreenshot(window_, std::string("wizard-dpichanged-") + std::to_string(dpi) + "-" + page);
  };
  for (int dpi : {144, 120, 192, 96}) {
    changeDpi(dpi);
    check(dpi, "agreement");
  }
  switchToOptions();
  startInstall();  // the progress controls show too
  for (int dpi : {144, 120, 192, 96}) {
    changeDpi(dpi);
    check(dpi, "options");
  }
}
