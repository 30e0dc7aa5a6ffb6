// The uninstall registration in the real registry of the build's Wine prefix. Every case starts
// and ends without the key, so the cases can run twice and beside other test programs.
#include "install/registration.h"

#include "support/temp_dir.h"
#include "util/files.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

using testing_support::TempDir;

struct RegValue {
  DWORD type = REG_NONE;
  std::string data;
  bool present = false;
};

RegValue queryValue(const wchar_t* name) {
  RegValue v;
  util::RegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKeyPath, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) !=
      ERROR_SUCCESS) {
    return v;
  }
  DWORD bytes = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &v.type, nullptr, &bytes) != ERROR_SUCCESS) return v;
  v.data.resize(bytes);
  if (RegQueryValueExW(key.get(), name, nullptr, &v.type, reinterpret_cast<BYTE*>(v.data.data()),
                       &bytes) != ERROR_SUCCESS) {
    return v;
  }
  v.data.resize(bytes);
  v.present = true;
  return v;
}

// REG_SZ data as Windows stores it: the characters and a terminating NUL.
std::string sz(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

void deleteKey() {
  RegDeleteKeyExW(HKEY_CURRENT_USER, kUninstallKeyPath, KEY_WOW64_64KEY, 0);
}

void writeLocation(DWORD type, const std::wstring& location) {
  util::RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKeyPath, 0, nullptr, 0,
                            KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), L"InstallLocation", 0, type,
                           reinterpret_cast<const BYTE*>(location.c_str()),
                           static_cast<DWORD>((location.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

// A folder whose full path has exactly length characters, made of nested levels below base.
std::wstring folderOfLength(const std::wstring& base, size_t length) {
  std::wstring path = base;
  while (path.size() < length) {
    const size_t room = length - path.size() - 1;  // one for the separator
    size_t level = room > 200 ? 100 : room;
    if (room > 100 && room <= 200) level = room - 101;  // leave at least 100 for the last level
    if (level == 0) level = 1;
    path += L"\\" + std::wstring(level, L'd');
  }
  EXPECT_EQ(path.size(), length);
  EXPECT_TRUE(util::createDirectories(path));
  return path;
}

class UninstallRegistration : public ::testing::Test {
 protected:
  void SetUp() override { deleteKey(); }
  void TearDown() override { deleteKey(); }
  TempDir dir_;
};

TEST_F(UninstallRegistration, WritesTheNineValuesWithTheirTypes) {
  const std::wstring folder = dir_ / L"Orvalo 量化";
  const std::wstring exe = folder + L"\\Orvalo.exe";
  ASSERT_TRUE(registerUninstall(folder, exe, L"2.5.1"));

  const struct {
    const wchar_t* name;
    std::wstring text;
  } strings[] = {
      {L"DisplayName", L"Orvalo量化"},
      {L"DisplayVersion", L"2.5.1"},
      {L"Publisher", L"OrvaloTrader"},
      {L"DisplayIcon", exe},
      {L"InstallLocation", folder},
      {L"UninstallString", L"\"" + folder + L"\\OrvaloSetup.exe\" --uninstall"},
      {L"QuietUninstallString", L"\"" + folder + L"\\OrvaloSetup.exe\" --uninstall --silent"},
  };
  for (const auto& expected : strings) {
    const RegValue v = queryValue(expected.name);
    ASSERT_TRUE(v.present);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.data.size(), (expected.text.size() + 1) * 2);
    EXPECT_EQ(v.data, sz(expected.text));
  }
  for (const wchar_t* name : {L"NoModify", L"NoRepair"}) {
    const RegValue v = queryValue(name);
    ASSERT_TRUE(v.present);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v.data, std::string("\x01\0\0\0", 4));
  }

  // Exactly these nine values.
  util::RegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKeyPath, 0, KEY_READ, key.put()), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 9u);
}

TEST_F(UninstallRegistration, WritesAnEmptyVersionAsAnEmptyString) {
  ASSERT_TRUE(registerUninstall(dir_.path(), dir_ / L"Orvalo.exe", L""));
  const RegValue v = queryValue(L"DisplayVersion");
  ASSERT_TRUE(v.present);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(v.data, std::string(2, '\0'));
}

TEST_F(UninstallRegistration, AReinstallOverwritesEveryValue) {
  const std::wstring first = dir_ / L"first", second = dir_ / L"second";
  ASSERT_TRUE(util::createDirectories(first));
  ASSERT_TRUE(util::createDirectories(second));
  ASSERT_TRUE(registerUninstall(first, first + L"\\Orvalo.exe", L"1.0"));
  EXPECT_EQ(readInstallLocation(), first);
  ASSERT_TRUE(registerUninstall(second, second + L"\\bin\\Orvalo.exe", L"1.1"));
  EXPECT_EQ(readInstallLocation(), second);
  EXPECT_EQ(queryValue(L"DisplayVersion").data, sz(L"1.1"));
  EXPECT_EQ(queryValue(L"DisplayIcon").data, sz(second + L"\\bin\\Orvalo.exe"));
  EXPECT_EQ(queryValue(L"UninstallString").data, sz(L"\"" + second + L"\\OrvaloSetup.exe\" --uninstall"));
}

TEST_F(UninstallRegistration, FindsNoInstallationWithoutTheKey) {
  EXPECT_EQ(readInstallLocation(), L"");
}

TEST_F(UninstallRegistration, ReadsLocationsOfUpTo519Characters) {
  const std::wstring longest = folderOfLength(dir_.path(), 519);
  writeLocation(REG_SZ, longest);
  EXPECT_EQ(readInstallLocation(), longest);

  const std::wstring tooLong = folderOfLength(dir_.path(), 520);
  writeLocation(REG_SZ, tooLong);
  EXPECT_EQ(readInstallLocation(), L"");
}

TEST_F(UninstallRegistration, IgnoresAnExpandableLocation) {
  writeLocation(REG_EXPAND_SZ, dir_.path());
  EXPECT_EQ(readInstallLocation(), L"");
  writeLocation(REG_SZ, dir_.path());
  EXPECT_EQ(readInstallLocation(), dir_.path());
}

TEST_F(UninstallRegistration, IgnoresALocationThatIsGoneOrAFile) {
  const std::wstring folder = dir_ / L"removed";
  ASSERT_TRUE(util::createDirectories(folder));
  ASSERT_TRUE(registerUninstall(folder, folder + L"\\Orvalo.exe", L"1.0"));
  EXPECT_EQ(readInstallLocation(), folder);
  ASSERT_TRUE(util::deleteDirRecursive(folder));
  EXPECT_EQ(readInstallLocation(), L"");

  const std::wstring file = dir_ / L"file";
  ASSERT_TRUE(util::writeFile(file, "x", 1));
  writeLocation(REG_SZ, file);
  EXPECT_EQ(readInstallLocation(), L"");
  writeLocation(REG_SZ, L"");
  EXPECT_EQ(readInstallLocation(), L"");
}

}  // namespace
