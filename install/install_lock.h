// The locks that keep runs of the setup apart. One install at a time per user: the wizard and the
// unattended install hold a named mutex while their job runs, and a second one that finds it held
// does not start. One owner at a time per install folder: whoever changes an installation (an
// install or repair, the upgrade helper, the uninstaller) holds the folder's mutex, and only its
// holder may undo a cut upgrade there; a run that finds it held leaves the folder alone.
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

// The mutex's name for an install folder: the SHA-256 of its full, normalized path, since a name
// may hold no '\' and only so many characters; every spelling of one folder ('/' or '\', letter
// case, "." and "..", a trailing separator) gives the same name. Global, as the install lock is,
// because the user's sessions share the folder. Empty when the path cannot be resolved.
std::wstring folderLockName(const std::wstring& folder);

// The held lock of the folder, or an empty handle when another run holds it (or the mutex cannot
// be made: the caller then keeps its hands off the folder as if it were held).
util::Handle acquireFolderLock(const std::wstring& folder);

}  // namespace install
