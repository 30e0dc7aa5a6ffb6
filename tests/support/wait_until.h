// Polling for a condition that another thread or process brings about.
#pragma once

#include <functional>

namespace testing_support {

// Checks the condition every 10 ms until it holds or ms have passed; its last answer.
bool waitUntil(const std::function<bool()>& condition, int ms = 5000);

}  // namespace testing_support
