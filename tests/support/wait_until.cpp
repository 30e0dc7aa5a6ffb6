#include "support/wait_until.h"

#include <windows.h>

#include <chrono>

namespace testing_support {

bool waitUntil(const std::function<bool()>& condition, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

}  // namespace testing_support
