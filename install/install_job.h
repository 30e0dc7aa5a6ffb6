// The install job: the body of the wizard's install thread. It reads the folder and the options
// from the record, reports through the window's messages and ends with exactly one WM_WIZ_DONE.
#pragma once

#include <windows.h>

namespace wizard {

struct Ctx;

void doInstall(Ctx* ctx, HWND window);

}  // namespace wizard
