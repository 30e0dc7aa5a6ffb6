// trust_ca.exe CA.der: makes the certificate authority trusted in the Wine prefix it runs in, for
// the demo's https server on localhost. Exit code 0 on success, 1 otherwise.
#include "support/cert_trust.h"

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fwprintf(stderr, L"usage: trust_ca.exe CA.der\n");
    return 2;
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fwprintf(stderr, L"cannot open %ls\n", argv[1]);
    return 1;
  }
  std::string der(64 * 1024, '\0');
  DWORD read = 0;
  const BOOL ok = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr);
  CloseHandle(file);
  der.resize(ok ? read : 0);
  if (!testing_support::trustCertificateAuthority(der)) {
    fwprintf(stderr, L"cannot add %ls to the Root store (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  return 0;
}
