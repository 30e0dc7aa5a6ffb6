// One install at a time per user: the wizard and the unattended install hold a named mutex while
// their job runs, and a second one that finds it held does not start.
#pragma once

#include "util/handles.h"

#include <string>

namespace install {

// The mutex's name for the current user, or empty when the user's SID cannot be read. It lives
// in the Global namespace with the SID in its name: the install folder and the registration are
// the user's, shared by all of the user's sessions (a console and a remote session at once),
// whereas a Local name would be per session and let two sessions install over each other.
std::wstring installLockName();

// The held lock, or an empty handle when another install of this user holds it (or the mutex
// cannot be made, which is treated alike: installing blind is worse than refusing).
util::Handle acquireInstallLock();

}  // namespace install
