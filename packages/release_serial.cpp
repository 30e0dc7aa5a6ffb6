#include "packages/release_serial.h"

#include "util/handles.h"

#include <windows.h>

bool parseReleaseSerial(const std::wstring& text, uint64_t& serial) {
  if (text.empty() || text.size() > kMaxReleaseSerialDigits) return false;
  serial = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    serial = serial * 10 + static_cast<uint64_t>(c - L'0');
  }
  return true;
}

uint64_t rememberedReleaseSerial(const std::wstring& keyPath) {
  wchar_t text[kMaxReleaseSerialDigits + 2] = {};
  DWORD size = sizeof text;
  uint64_t serial = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), kReleaseSerialValue, RRF_RT_REG_SZ, nullptr, text, &size) !=
          ERROR_SUCCESS ||
      !parseReleaseSerial(text, serial)) {
    return 0;
  }
  return serial;
}

void rememberReleaseSerial(const std::wstring& keyPath, uint64_t serial) {
  // Never lowered: the wizard's retrievals and its install job each accept the release.
  if (rememberedReleaseSerial(keyPath) >= serial) return;
  util::RegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  const std::wstring text = std::to_wstring(serial);
  RegSetValueExW(key.get(), kReleaseSerialValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
