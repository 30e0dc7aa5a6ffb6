// The install wizard: the window that shows the agreement and the options, and runs the install.
#pragma once

#include <string>

// Runs the wizard on the calling (main) thread, whose OLE is initialised. baseUrl empty means the
// built-in server. Returns the process exit code.
int runWizard(const std::wstring& baseUrl);
