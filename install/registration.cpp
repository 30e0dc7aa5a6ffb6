#include "install/registration.h"

#include "install/texts.h"
#include "util/client_contract.h"
#include "util/handles.h"

#include <windows.h>

namespace {

// 520 characters including the terminating NUL: longer locations count as no installation.
constexpr DWORD kLocationBufferChars = 520;

void setString(HKEY key, const wchar_t* name, const std::wstring& value) {
  // The data includes the terminating NUL, as Windows stores REG_SZ values.
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void setDword(HKEY key, const wchar_t* name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

bool registerUninstall(const std::wstring& installDir, const std::wstring& clientExe,
                       const std::wstring& version) {
  util::RegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // A failed value write leaves an incomplete entry in the list of programs, which is all the
  // harm it can do; the install itself has succeeded, so the individual results are not examined.
  setString(key.get(), L"DisplayName", install::kDisplayName);
  setString(key.get(), L"DisplayVersion", version);
  setString(key.get(), L"Publisher", install::kPublisher);
  setString(key.get(), L"DisplayIcon", clientExe);
  setString(key.get(), L"InstallLocation", installDir);
  const std::wstring setupCopy = L"\"" + installDir + L"\\" + client::kSetupExeName + L"\"";
  setString(key.get(), L"UninstallString", setupCopy + L" --uninstall");
  // What deployment tools run to remove the product without a question.
  setString(key.get(), L"QuietUninstallString", setupCopy + L" --uninstall --silent");
  setDword(key.get(), L"NoModify", 1);
  setDword(key.get(), L"NoRepair", 1);
  return true;
}

std::wstring readInstallLocation() {
  wchar_t buffer[kLocationBufferChars];
  DWORD bytes = sizeof buffer;
  // Without RRF_NOEXPAND a REG_EXPAND_SZ value would be expanded and then pass as REG_SZ; a
  // location that needs expanding was not written by us and counts as no installation.
  if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKeyPath, L"InstallLocation",
                   RRF_RT_REG_SZ | RRF_NOEXPAND | RRF_SUBKEY_WOW6464KEY, nullptr, buffer,
                   &bytes) != ERROR_SUCCESS) {
    return {};
  }
  const std::wstring location(buffer, wcsnlen(buffer, kLocationBufferChars));
  const DWORD attributes = GetFileAttributesW(location.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return location;
}
