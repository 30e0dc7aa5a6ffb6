// The serial number of a signed release ([release] serial=, decimal) and the highest one this
// user's setup has accepted, so that a mirror or a man in the middle cannot bring back an older
// signed release (and the older client it installs) while that release has not yet expired.
#pragma once

#include "util/product.h"

#include <cstdint>
#include <string>

// Where the accepted serial is remembered: a key below HKEY_CURRENT_USER that outlives an
// uninstall (the uninstaller removes only the registration), and the value in it: REG_SZ, the
// serial in decimal, as an administrator reads it in the registry editor.
constexpr wchar_t kReleaseSerialKey[] = L"Software\\" ORVALO_PRODUCT_LATIN_NAME;
constexpr wchar_t kReleaseSerialValue[] = L"ReleaseSerial";

// At most 18 digits, so that every serial fits in 64 bits (the default one is a UTC time,
// YYYYMMDDHHMMSS, 14 digits).
constexpr size_t kMaxReleaseSerialDigits = 18;

// Whether text is 1 to 18 decimal digits; the number in serial.
[[nodiscard]] bool parseReleaseSerial(const std::wstring& text, uint64_t& serial);

// The serial remembered under HKCU\keyPath; 0 when none is, or none that reads as a serial.
uint64_t rememberedReleaseSerial(const std::wstring& keyPath);

// Remembers serial under HKCU\keyPath unless a higher one is remembered already.
void rememberReleaseSerial(const std::wstring& keyPath, uint64_t serial);
