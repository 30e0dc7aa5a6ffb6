// hold_file PATH: opens the file without sharing and keeps it open until it is ended, standing
// in for another program that holds a file of the installation (a running client, a viewer).
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  // Another program may have the file open for a moment (a virus scanner on Windows): retry.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 3000 && file == INVALID_HANDLE_VALUE; ++attempt) {
    file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) Sleep(20);
  }
  if (file == INVALID_HANDLE_VALUE) return 1;
  // Tell the test, through an event named after this process, that the file is held now.
  const std::wstring name = L"Local\\OrvaloHoldFile_" + std::to_wstring(GetCurrentProcessId());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (ready) SetEvent(ready);
  Sleep(INFINITE);
  return 0;
}
