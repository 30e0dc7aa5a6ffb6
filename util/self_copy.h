// The temporary copy of the running executable that does the work when the executable itself may
// be replaced or removed (upgrade helper, uninstall worker).
#pragma once

#include <string>

// Temp folder + "\OrvaloSetup_helper.exe"; an earlier copy there is replaced.
std::wstring helperExecutablePath();

// Copies the running executable to helperExecutablePath(); true and the path on success.
bool copySelfToTemp(std::wstring& path);
