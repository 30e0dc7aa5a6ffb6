// idle_process MS: a process that does nothing for MS milliseconds (forever without an argument)
// and then exits with code 7, standing in for a client that is slow to exit or never does. A
// windowless GUI program, like the client: a console program would get a console host under Wine
// that can outlive it and keep the test's output open.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  Sleep(commandLine && *commandLine ? static_cast<DWORD>(wcstoul(commandLine, nullptr, 10)) : INFINITE);
  return 7;
}
