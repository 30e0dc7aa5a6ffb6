// Heap payloads that travel with a posted window message. The sender owns the payload until
// PostMessageW succeeds; the receiving window owns it from then on and takes it back into a
// unique_ptr first thing, so every path frees it exactly once.
#pragma once

#include <windows.h>

#include <memory>

namespace util {

// Posts the message with the payload as lParam. When posting fails (the window is gone), the
// payload is freed here.
template <typename T>
bool postPayload(HWND window, UINT message, WPARAM wParam, std::unique_ptr<T> payload) {
  if (!PostMessageW(window, message, wParam, reinterpret_cast<LPARAM>(payload.get()))) {
    return false;
  }
  payload.release();
  return true;
}

template <typename T>
std::unique_ptr<T> takePayload(LPARAM lParam) {
  return std::unique_ptr<T>(reinterpret_cast<T*>(lParam));
}

}  // namespace util
