// The entry of every GoogleTest program. After the tests it ends the process without the
// library detach of process exit: under Wine, a process that used WinHTTP over TLS can hang in
// that detach for minutes now and then, after every test has passed and reported.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
