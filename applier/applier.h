// The upgrade applier (--apply): started by the installed client to put new packages in place.
#pragma once

#include "applier/upgrade_options.h"

// fromHelper is true in the temporary copy that does the work. Returns the process exit code.
int runUpgrade(const applier::UpgradeOptions& options, bool fromHelper);
