// The real upgrade window, created on a thread of its own with its message loop and driven from
// the test thread with the messages the upgrade job posts.
#include "applier/applier_ctx.h"
#include "applier/texts.h"
#include "applier/upgrade_layout.h"
#include "applier/upgrade_job.h"
#include "prog/job_messages.h"
#include "applier/upgrade_window.h"
#include "prog/reporter.h"
#include "prog/texts.h"
#include "support/live_allocations.h"
#include "support/wait_until.h"
#include "support/window_harness.h"
#include "support/window_checks.h"
#include "util/fixed_window.h"
#include "util/payload.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

using namespace applier;
using testing_support::waitUntil;
using testing_support::windowText;

namespace {

// Stands in for the upgrade job: it waits to be released and ends with the result the test gave;
// the test posts its other messages.
HANDLE g_releaseJob = nullptr;
prog::JobResult g_result;

prog::JobResult heldJob(const UpgradeRequest&, prog::JobSink&) {
  WaitForSingleObject(g_releaseJob, 60000);
  return g_result;
}

void endJob(bool ok, const std::wstring& failure = {}) {
  g_result = ok ? prog::JobResult() : prog::jobFailed(prog::FailureKind::kDisk, failure);
  SetEvent(g_releaseJob);
}

prog::JobResult throwingJob(const UpgradeRequest&, prog::JobSink&) {
  throw std::system_error(std::make_error_code(std::errc::not_enough_memory));
}

class UpgradeWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_releaseJob = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  static void TearDownTestSuite() { CloseHandle(g_releaseJob); }

  void open(size_t items, JobFunction job = heldJob) {
    ResetEvent(g_releaseJob);
    g_result = prog::JobResult();
    ctx_ = std::make_unique<Ctx>();
    ctx_->items.resize(items == 1 ? 0 : items);  // one item: the command line's, no plan
    const auto create = [this, job] {
      INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
      InitCommonControlsEx(&icc);
      return createUpgradeWindow(ctx_.get(), job);
    };
    const auto finish = [this] {
      SetEvent(g_releaseJob);
      (void)ctx_->worker.finish();
    };
    ui_.start(create, util::runMessageLoop, finish);
    window_ = ui_.window();
    ASSERT_NE(window_, nullptr);
  }

  void TearDown() override {
    if (window_ && IsWindow(window_)) {
      if (!ctx_->finished) endJob(true);
      waitUntil([this] { return ctx_->finished.load(); });
    }
    ui_.close();
  }

  HWND item(int id) const { return GetDlgItem(window_, id); }
  std::wstring text(int id) const { return windowText(item(id)); }

  template <typename T>
  void post(UINT message, WPARAM wParam, std::unique_ptr<T> payload) {
    ASSERT_TRUE(util::postPayload(window_, message, wParam, std::move(payload)));
  }
  // Everything posted before has been handled once a package message posted last shows.
  void sync() {
    const unsigned n = ++syncs_;
    post(prog::WM_JOB_PACKAGE, 0, std::make_unique<prog::TotalInfo>(prog::TotalInfo{n, 99999, 0}));
    const std::wstring marker = L"升级包 " + std::to_wstring(n) + L"/99999";
    ASSERT_TRUE(waitUntil([&] { return text(kIdPackageLabel) == marker; }));
  }

  UpgradeRect rectOf(int id) const {
    RECT r;
    GetWindowRect(item(id), &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
  }

  bool closeGrayed() const {
    const UINT state = GetMenuState(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND);
    return (state & MF_GRAYED) != 0;
  }

  void checkLayout(size_t items) {
    const int dpi = static_cast<int>(GetDpiForWindow(window_));
    if (const char* expected = getenv("ORVALO_EXPECT_DPI")) {
      EXPECT_EQ(dpi, atoi(expected));
    }
    RECT client;
    GetClientRect(window_, &client);
    const UpgradeRect expectedClient = upgradeClientRect(dpi);
    EXPECT_EQ(client.right, expectedClient.w);
    EXPECT_EQ(client.bottom, expectedClient.h);
    for (int id : {kIdStatus, kIdPackageLabel, kIdPackageBar, kIdMainBar, kIdNotice}) {
      EXPECT_TRUE(rectOf(id) == upgradeControlRect(id, dpi, items)) << "control " << id << " at " << dpi;
      EXPECT_EQ(SendMessageW(item(id), WM_GETFONT, 0, 0) != 0, true) << "control " << id;
    }
    const bool packageRow = items > 1;
    EXPECT_EQ(IsWindowVisible(item(kIdPackageLabel)) != FALSE, packageRow);
    EXPECT_EQ(IsWindowVisible(item(kIdPackageBar)) != FALSE, packageRow);
    EXPECT_TRUE(IsWindowVisible(item(kIdMainBar)));
    EXPECT_EQ(text(kIdStatus), applier::kInitialStatus);
    EXPECT_EQ(text(kIdNotice), applier::kNotice);
    EXPECT_EQ(windowText(window_), applier::kTitle);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)) & 0x00CF0000u, 0x00CA0000u);
    EXPECT_TRUE(GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    const LONG_PTR barStyle = GetWindowLongPtrW(item(kIdMainBar), GWL_STYLE);
    EXPECT_TRUE((barStyle & PBS_MARQUEE) && (barStyle & PBS_SMOOTH));
    EXPECT_EQ(SendMessageW(item(kIdPackageBar), PBM_GETRANGE, FALSE, 0), 1000);
    EXPECT_TRUE(closeGrayed());
  }

  std::unique_ptr<Ctx> ctx_;
  testing_support::WindowThread ui_;
  HWND window_ = nullptr;
  unsigned syncs_ = 0;
};

TEST_F(UpgradeWindow, ControlsSitWhereTheLayoutSaysForOneItem) {
  open(1);
  wchar_t cls[64] = {};
  GetClassNameW(window_, cls, 64);
  EXPECT_STREQ(cls, L"OrvaloSetupUpgradeWnd");
  checkLayout(1);
}

TEST_F(UpgradeWindow, ControlsSitWhereTheLayoutSaysForThreeItems) {
  open(3);
  checkLayout(3);
}

// At every DPI the shown controls lie inside the client area without overlapping; from two items
// on, the package row sits between the status line and the main bar.
TEST(UpgradeLayout, ControlsFitAndKeepApartAtEveryDpi) {
  auto inside = [](const UpgradeRect& r, const UpgradeRect& client) {
    return r.w > 0 && r.h > 0 && r.x >= 0 && r.y >= 0 && r.x + r.w <= client.w && r.y + r.h <= client.h;
  };
  auto overlap = [](const UpgradeRect& a, const UpgradeRect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
  };
  for (int dpi : {96, 120, 144, 192}) {
    const UpgradeRect client = upgradeClientRect(dpi);
    for (size_t items : {size_t{1}, size_t{3}}) {
      std::vector<int> shown = {kIdStatus, kIdMainBar, kIdNotice};
      if (items > 1) shown.insert(shown.begin() + 1, {kIdPackageLabel, kIdPackageBar});
      for (size_t i = 0; i < shown.size(); ++i) {
        const UpgradeRect a = upgradeControlRect(shown[i], dpi, items);
        EXPECT_TRUE(inside(a, client)) << shown[i] << " at " << dpi;
        for (size_t j = i + 1; j < shown.size(); ++j) {
          EXPECT_FALSE(overlap(a, upgradeControlRect(shown[j], dpi, items)))
              << shown[i] << " and " << shown[j] << " at " << dpi << " for " << items;
        }
      }
    }
    const UpgradeRect bar = upgradeControlRect(kIdPackageBar, dpi, 3);
    EXPECT_GE(bar.y, upgradeControlRect(kIdStatus, dpi, 3).y + upgradeControlRect(kIdStatus, dpi, 3).h);
    EXPECT_LE(bar.y + bar.h, upgradeControlRect(kIdMainBar, dpi, 3).y);
  }
}

TEST_F(UpgradeWindow, ShowsStatusAndPackageMessages) {
  open(3);
  post(prog::WM_JOB_STATUS, 0, std::make_unique<std::wstring>(L"正在下载升级包（1/3）…"));
  post(prog::WM_JOB_PACKAGE, 0, std::make_unique<prog::TotalInfo>(prog::TotalInfo{1, 3, 250}));
  ASSERT_TRUE(waitUntil([&] { return text(kIdPackageLabel) == L"升级包 1/3"; }));
  EXPECT_EQ(text(kIdStatus), L"正在下载升级包（1/3）…");
  EXPECT_EQ(SendMessageW(item(kIdPackageBar), PBM_GETPOS, 0, 0), 250);
}

// A download of 3 GiB does not fit the bar's 32-bit range: the bar still shows the right share.
TEST_F(UpgradeWindow, ByteTotalsBeyondTwoGibibytesShowTheRightFraction) {
  open(1);
  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{3ull << 29, 3ull << 30}));
  sync();
  HWND bar = item(kIdMainBar);
  EXPECT_FALSE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
  const LRESULT high = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
  const LRESULT pos = SendMessageW(bar, PBM_GETPOS, 0, 0);
  ASSERT_GT(high, 0);
  EXPECT_NEAR(static_cast<double>(pos) / static_cast<double>(high), 0.5, 0.001);

  // A stage without a measure brings the marquee back.
  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{0, 0}));
  sync();
  EXPECT_TRUE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
}

TEST_F(UpgradeWindow, CloseIsRefusedWhileTheJobRunsAndAllowedAfterItsEnd) {
  open(1);
  PostMessageW(window_, WM_CLOSE, 0, 0);
  sync();
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_TRUE(closeGrayed());
  endJob(false, applier::kDownloadFailed + std::wstring(L"测试"));
  ASSERT_TRUE(waitUntil([&] { return ctx_->finished.load(); }));
  EXPECT_FALSE(closeGrayed());
  EXPECT_EQ(text(kIdStatus), applier::kFailurePrefix + (applier::kDownloadFailed + std::wstring(L"测试")));
  PostMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_TRUE(waitUntil([&] { return !IsWindow(window_); }, 1000));  // at once, not after the timer
}

TEST_F(UpgradeWindow, SuccessFillsTheBarsAndClosesSoon) {
  open(3);
  post(prog::WM_JOB_PACKAGE, 0, std::make_unique<prog::TotalInfo>(prog::TotalInfo{3, 3, 400}));
  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{10, 40}));
  const auto start = std::chrono::steady_clock::now();
  endJob(true);
  ASSERT_TRUE(waitUntil([&] { return text(kIdStatus) == applier::kSuccessStatus; }));
  EXPECT_EQ(SendMessageW(item(kIdMainBar), PBM_GETPOS, 0, 0), 40);
  EXPECT_EQ(SendMessageW(item(kIdPackageBar), PBM_GETPOS, 0, 0), 1000);
  ASSERT_TRUE(waitUntil([&] { return !IsWindow(window_); }, 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(850));
}

TEST_F(UpgradeWindow, AJobThatThrowsEndsAsAFailureInsteadOfEndingTheProcess) {
  open(1, throwingJob);
  ASSERT_TRUE(waitUntil([&] { return ctx_->finished.load(); }));
  EXPECT_EQ(text(kIdStatus).rfind(applier::kFailurePrefix + std::wstring(prog::kInternalError) + L"：", 0), 0u) << util::toUtf8(text(kIdStatus));
  EXPECT_FALSE(ctx_->succeeded);
  EXPECT_FALSE(closeGrayed());
}

// The last stage may have had no measure: the bar runs its marquee until the end, which must
// stop it to show the bar full.
TEST_F(UpgradeWindow, SuccessAfterAMarqueeStageShowsBothBarsFull) {
  open(3);
  post(prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{0, 0}));
  sync();
  HWND bar = item(kIdMainBar);
  ASSERT_TRUE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
  endJob(true);
  ASSERT_TRUE(waitUntil([&] { return text(kIdStatus) == applier::kSuccessStatus; }));
  EXPECT_FALSE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
  const LRESULT high = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
  EXPECT_GT(high, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), high);
  EXPECT_EQ(SendMessageW(item(kIdPackageBar), PBM_GETPOS, 0, 0), 1000);
}

// Moving to a monitor of another DPI (with the rectangle Windows suggests): every control where
// the layout puts it, inside the client area, with the message font of that DPI and its whole
// text.
TEST_F(UpgradeWindow, DpiChangeLaysOutAgainWithTheFontOfTheNewDpi) {
  open(3);
  for (int dpi : {144, 192, 96}) {
    testing_support::sendDpiChanged(window_, dpi, upgradeClientRect(dpi).w, upgradeClientRect(dpi).h);
    RECT client;
    GetClientRect(window_, &client);
    for (int id : {kIdStatus, kIdPackageLabel, kIdPackageBar, kIdMainBar, kIdNotice}) {
      const UpgradeRect r = rectOf(id);
      EXPECT_TRUE(r == upgradeControlRect(id, dpi, 3)) << id << " at " << dpi;
      EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.w <= client.right && r.y + r.h <= client.bottom)
          << id << " at " << dpi;
      const std::wstring cut = testing_support::textDoesNotFit(item(id), dpi);
      EXPECT_TRUE(cut.empty()) << id << " at " << dpi << ": " << util::toUtf8(cut);
      EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(item(id), WM_GETFONT, 0, 0)), ctx_->font.get());
    }
    LOGFONTW font{};
    ASSERT_NE(GetObjectW(ctx_->font.get(), sizeof font, &font), 0);
    EXPECT_EQ(font.lfHeight, testing_support::messageFontHeight(dpi)) << dpi;
    testing_support::saveScreenshot(window_, "upgrade-dpichanged-" + std::to_string(dpi));
  }
}

TEST_F(UpgradeWindow, FailureStaysForFourSecondsAndLongTextsAreCut) {
  open(1);
  const std::wstring longText(600, L'长');
  const auto start = std::chrono::steady_clock::now();
  endJob(false, longText);
  ASSERT_TRUE(waitUntil([&] { return ctx_->finished.load(); }));
  const std::wstring shown = text(kIdStatus);
  EXPECT_EQ(shown.size(), 511u);
  EXPECT_EQ(shown, (applier::kFailurePrefix + longText).substr(0, 511));
  Sleep(2500);
  EXPECT_TRUE(IsWindow(window_));
  ASSERT_TRUE(waitUntil([&] { return !IsWindow(window_); }, 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3900));
}

TEST_F(UpgradeWindow, NoPayloadLeaksWhateverIsLeftInTheQueue) {
  // A first window warms up whatever the system keeps for good.
  open(3);
  endJob(true);
  ASSERT_TRUE(waitUntil([&] { return ctx_->finished.load(); }));
  SendMessageW(window_, WM_CLOSE, 0, 0);
  ui_.join();
  ctx_.reset();
  const long baseline = testing_support::liveAllocations();

  open(3);
  endJob(false);  // ended: the window may close
  ASSERT_TRUE(waitUntil([&] { return ctx_->finished.load(); }));
  HWND window = window_;
  std::thread worker([window] {
    for (int i = 0; i < 40; ++i) {
      if (i == 20) PostMessageW(window, WM_CLOSE, 0, 0);
      util::postPayload(window, prog::WM_JOB_STATUS, 0, std::make_unique<std::wstring>(std::wstring(300, L'升')));
      util::postPayload(window, prog::WM_JOB_PROGRESS, 0, std::make_unique<prog::BarProgress>(prog::BarProgress{1, 2}));
      util::postPayload(window, prog::WM_JOB_PACKAGE, 0, std::make_unique<prog::TotalInfo>(prog::TotalInfo{1, 3, 3}));
      PostMessageW(window, prog::WM_JOB_DONE, 0, 0);
    }
  });
  worker.join();
  ui_.join();
  ctx_.reset();
  EXPECT_EQ(testing_support::liveAllocations(), baseline);
}

TEST(UpgradeStatusText, UnknownFailureAndCut) {
  EXPECT_EQ(failureStatusText(nullptr), applier::kFailurePrefix + std::wstring(applier::kUnknownError));
  const std::wstring exact(506, L'x');  // prefix of 5 + 506 = 511 characters: kept whole
  EXPECT_EQ(failureStatusText(&exact).size(), 511u);
}

}  // namespace
