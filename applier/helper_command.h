// The command line on which the first upgrade process starts its temporary copy.
#pragma once

#include <string>
#include <vector>

// The helper path and every argument of the first process (program name left out), each
// quoted so that the helper's command-line splitting gives back exactly these arguments, then
// " --from-helper".
std::wstring helperCommandLine(const std::wstring& helperPath, const std::vector<std::wstring>& args);
