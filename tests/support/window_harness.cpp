#include "support/window_harness.h"

#include "util/handles.h"

namespace testing_support {

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool WindowThread::start(const std::function<HWND()>& create, const std::function<void()>& runLoop,
                         const std::function<void()>& finish) {
  join();
  window_ = nullptr;
  util::Handle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE readyEvent = ready.get();
  thread_ = std::thread([this, create, runLoop, finish, readyEvent] {
    threadId_ = GetCurrentThreadId();
    window_ = create();
    SetEvent(readyEvent);
    if (window_) runLoop();
    if (finish) finish();
  });
  WaitForSingleObject(readyEvent, 20000);
  return window_ != nullptr;
}

void WindowThread::join() {
  if (thread_.joinable()) thread_.join();
}

void WindowThread::close() {
  if (window_ && IsWindow(window_)) PostMessageW(window_, WM_CLOSE, 0, 0);
  join();
}

}  // namespace testing_support
