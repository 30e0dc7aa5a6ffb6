// A window of the program under test on a thread of its own with its message loop, for tests
// that drive it from the test thread, and reading a control's text from outside.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace testing_support {

std::wstring windowText(HWND window);

class WindowThread {
 public:
  WindowThread() = default;
  ~WindowThread() { close(); }
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  // On a new thread: create makes the window (and whatever the thread needs first); when it
  // gives one, runLoop serves it until it is gone; finish runs last, on that thread either way.
  // Returns once create has returned: true when the window is up.
  bool start(const std::function<HWND()>& create, const std::function<void()>& runLoop,
             const std::function<void()>& finish = {});
  // Waits until the thread has ended (the window is gone).
  void join();
  // Closes the window as its close box does, then waits until the thread has ended.
  void close();

  HWND window() const { return window_; }
  DWORD threadId() const { return threadId_; }

 private:
  std::thread thread_;
  HWND window_ = nullptr;
  DWORD threadId_ = 0;
};

}  // namespace testing_support
