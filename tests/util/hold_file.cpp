// hold_file PATH: opens the file without sharing and keeps it open until it is ended, standing
// in for another program that holds a file of the installation (a running client, a viewer).
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  // The starting test polls the file until it is held, so a first attempt may meet its probe.
  for (int attempt = 0; attempt < 250; ++attempt) {
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) Sleep(INFINITE);
    Sleep(20);
  }
  return 1;
}
