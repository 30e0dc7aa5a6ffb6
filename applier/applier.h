// The upgrade applier (--apply): started by the installed client to put new packages in place.
#pragma once

#include "app/command_line.h"

// fromHelper is true in the temporary copy that does the work. Returns the process exit code.
int runUpgrade(const RunOptions& options, bool fromHelper);
