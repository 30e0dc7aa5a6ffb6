// Checks the built OrvaloSetup.exe itself: its resources and its application manifest, read the
// way Windows reads them.
#include "resources/resource_ids.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

class SetupExecutable : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring path = util::moduleDirectory() + L"\\OrvaloSetup.exe";
    module_.reset(LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module_.valid()) << "cannot load OrvaloSetup.exe, error " << GetLastError();
  }

  std::string resource(const wchar_t* type, int id) {
    HRSRC info = FindResourceW(module_.get(), MAKEINTRESOURCEW(id), type);
    if (!info) return {};
    HGLOBAL loaded = LoadResource(module_.get(), info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return {};
    return std::string(static_cast<const char*>(data), SizeofResource(module_.get(), info));
  }

  util::Module module_;
};

bool isValidUtf8(const std::string& s) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                             nullptr, 0) > 0;
}

}  // namespace

TEST_F(SetupExecutable, HasTheApplicationIcon) {
  HRSRC group = FindResourceW(module_.get(), MAKEINTRESOURCEW(IDI_APP_ICON), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  // The group names several sizes, the largest 256 pixels (stored as width 0).
  const std::string dir = resource(RT_GROUP_ICON, IDI_APP_ICON);
  ASSERT_GE(dir.size(), 6u);
  const unsigned count = static_cast<unsigned char>(dir[4]) | (static_cast<unsigned char>(dir[5]) << 8);
  EXPECT_GE(count, 4u);
  bool has256 = false;
  for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= dir.size(); ++i) {
    if (dir[6 + 14 * i] == 0) has256 = true;
  }
  EXPECT_TRUE(has256);
}

TEST_F(SetupExecutable, DefaultChannelPayloadIsExactlyNineteenBytes) {
  EXPECT_EQ(resource(RT_RCDATA, IDR_CHANNEL_DEFAULT), std::string("[Channel]\nid=\nref=\n"));
}

TEST_F(SetupExecutable, BuiltInAgreementIsUtf8WithoutByteOrderMark) {
  const std::string text = resource(RT_RCDATA, IDR_AGREEMENT_BUILTIN);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_TRUE(isValidUtf8(text));
  // A title line, then numbered sections.
  const std::wstring wide = util::toWide(CP_UTF8, text);
  EXPECT_NE(wide.find(L'\n'), std::wstring::npos);
  EXPECT_EQ(wide.find(L"Orvalo量化"), 0u);
  EXPECT_NE(wide.find(L"一、"), std::wstring::npos);
  EXPECT_NE(wide.find(L"八、"), std::wstring::npos);
}

TEST_F(SetupExecutable, ManifestAsksForPerMonitorDpiAndCommonControls6) {
  const std::string manifest = resource(RT_MANIFEST, 1);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("<dpiAwareness"), std::string::npos);
  EXPECT_NE(manifest.find("PerMonitorV2, PerMonitor"), std::string::npos);
  EXPECT_NE(manifest.find("true/pm"), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
}
