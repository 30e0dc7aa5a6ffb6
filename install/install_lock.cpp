#include "install/install_lock.h"

#include "net/sha256.h"
#include "util/paths.h"
#include "util/text.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

namespace install {
namespace {

util::Handle acquireNamedLock(const std::wstring& name) {
  if (name.empty()) return {};
  // The mutex is only ever tested for existence, never waited on: its creator holds it by keeping
  // the handle open, and it disappears with the last handle, also when that process dies.
  // Wine leaves the last error alone when it creates the mutex, so an earlier call's
  // ERROR_ALREADY_EXISTS (the log file opened with CREATE_ALWAYS) would read as a running install.
  SetLastError(ERROR_SUCCESS);
  util::Handle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return {};
  return mutex;
}

}  // namespace

std::wstring installLockName() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
  const util::Handle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  wchar_t* rawSid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &rawSid)) return {};
  const util::LocalMem sid(rawSid);
  return std::wstring(L"Global\\OrvaloSetup.Install.") + rawSid;
}

util::Handle acquireInstallLock() { return acquireNamedLock(installLockName()); }

std::wstring folderLockName(const std::wstring& folder) {
  const std::wstring full = util::fullPath(folder);
  if (full.empty()) return {};
  const std::string digest = sha256Hex(util::toUtf8(util::normalizePathKey(full)));
  if (digest.empty()) return {};
  return L"Global\\OrvaloSetup.Folder." + util::toWide(util::kCodePageUtf8, digest);
}

util::Handle acquireFolderLock(const std::wstring& folder) { return acquireNamedLock(folderLockName(folder)); }

}  // namespace install
