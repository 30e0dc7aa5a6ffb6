// idle_program: does nothing until it is ended, standing in for any program of the client's that
// runs from the install folder (or from beside it).
#include <windows.h>

int wmain() {
  Sleep(INFINITE);
  return 0;
}
