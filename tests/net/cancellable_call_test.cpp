#include "net/cancellable_call.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <new>

TEST(RunCancellable, WhatTheWorkThrowsOnItsOwnThreadReachesTheCaller) {
  util::Handle cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(cancel);
  DWORD workThread = GetCurrentThreadId();
  const auto work = [&workThread](CancelEvent) {
    workThread = GetCurrentThreadId();
    throw std::bad_alloc();
  };
  EXPECT_THROW(net::runCancellable(cancel.get(), work), std::bad_alloc);
  EXPECT_NE(workThread, GetCurrentThreadId());
}
