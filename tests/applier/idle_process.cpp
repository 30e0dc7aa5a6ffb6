// idle_process MS: a process that does nothing for MS milliseconds (forever without an argument)
// and then exits with code 7, standing in for a client that is slow to exit or never does.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  Sleep(argc > 1 ? static_cast<DWORD>(wcstoul(argv[1], nullptr, 10)) : INFINITE);
  return 7;
}
