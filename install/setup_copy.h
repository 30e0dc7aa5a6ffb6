// The installation's copy of the setup, through which the client upgrades and Windows uninstalls:
// refreshed by every install, but never with an older setup than the one already there (a repair
// started from an old download would otherwise take back the fixes of the newer copy).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace install {

// The file version (major.minor.build.revision as one number, major highest) in a version
// resource's bytes; none when they hold no fixed file information.
std::optional<uint64_t> fixedFileVersion(const std::string& versionResource);

// The file version of an executable on disk, read as data (nothing of it runs); none when it
// cannot be read or carries none.
std::optional<uint64_t> fileVersionOf(const std::wstring& path);

// Whether a setup of version running may take the place of an installed copy: the same version
// or a newer one. A copy without a version predates versioned setups and is older.
bool maySupersede(std::optional<uint64_t> running, std::optional<uint64_t> installed);

// Puts the running setup in place of the copy unless the copy is the same file or newer. A
// failure is left for the next install: the copy already there still works.
void refreshSetupCopy(const std::wstring& running, const std::wstring& copy);

}  // namespace install
