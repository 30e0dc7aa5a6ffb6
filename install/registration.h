// The per-user uninstall registration: lists the client among the user's installed programs with
// the setup copy as its uninstaller, and tells a later wizard where the client is installed.
#pragma once

#include "util/product.h"

#include <string>

// Key below HKEY_CURRENT_USER (64-bit view).
constexpr wchar_t kUninstallKeyPath[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" ORVALO_PRODUCT_LATIN_NAME;

// Writes the registration's nine values. False only when the key cannot be created or opened.
bool registerUninstall(const std::wstring& installDir, const std::wstring& clientExe,
                       const std::wstring& version);

// The install folder of an existing installation, or empty when there is none: no key, a value
// of another type or too long, or a folder that no longer exists.
std::wstring readInstallLocation();
