// The real DXGI path under Wine: the prefix's Direct3D settings fix what the emulated adapter
// reports, and `orvalo-tool gpu` (a fresh process, which reads them at start) reports the choice.
#include "support/run_process.h"
#include "util/handles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <windows.h>

#include <optional>
#include <string>

namespace {

constexpr wchar_t kDirect3dKey[] = L"Software\\Wine\\Direct3D";

std::optional<std::wstring> readString(const wchar_t* name) {
  wchar_t buffer[256];
  DWORD bytes = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, kDirect3dKey, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}

void writeString(const wchar_t* name, const std::optional<std::wstring>& value) {
  util::RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kDirect3dKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                            key.put(), nullptr),
            ERROR_SUCCESS);
  if (value) {
    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                   static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key.get(), name);
  }
}

class WineDxgi : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t display[256];
    if (GetEnvironmentVariableW(L"DISPLAY", display, 256) == 0) {
      GTEST_SKIP() << "no display: DXGI has no adapter to report (scripts/test.sh starts Xvfb)";
    }
    savedMemory_ = readString(L"VideoMemorySize");
    savedRenderer_ = readString(L"renderer");
  }
  void TearDown() override {
    if (IsSkipped()) return;
    writeString(L"VideoMemorySize", savedMemory_);
    writeString(L"renderer", savedRenderer_);
  }

  static nlohmann::json runGpuTool() {
    const testing_support::ProcessResult run =
        testing_support::runProcess(testing_support::quoteArg(testing_support::binPath(L"orvalo-tool.exe")) + L" gpu");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    nlohmann::json result = nlohmann::json::parse(run.output, nullptr, false);
    EXPECT_TRUE(result.is_object()) << run.output;
    return result;
  }

  // The emulated adapter with the given memory size in MiB.
  static nlohmann::json gpuWithMemory(const wchar_t* mebibytes) {
    writeString(L"renderer", std::nullopt);
    writeString(L"VideoMemorySize", mebibytes);
    return runGpuTool();
  }

  std::optional<std::wstring> savedMemory_, savedRenderer_;
};

TEST_F(WineDxgi, ReportsTheEmulatedAdapterWithItsConfiguredMemory) {
  const nlohmann::json gpu = gpuWithMemory(L"8192");
  EXPECT_EQ(gpu.value("capable", false), true);
  EXPECT_EQ(gpu.value("dedicatedBytes", uint64_t{0}), uint64_t{8} << 30);
  EXPECT_EQ(gpu.value("tier", ""), "mid");
  EXPECT_FALSE(gpu.value("name", "").empty());
  const std::string text = gpu.value("text", "");
  EXPECT_NE(text.find("（专用显存 8 GB）\n推荐本地模型：7B ~ 14B（Q4 量化）"), std::string::npos) << text;
}

TEST_F(WineDxgi, KeepsTheSmallTierJustBelowSixGibibytes) {
  const nlohmann::json gpu = gpuWithMemory(L"6143");
  EXPECT_EQ(gpu.value("capable", true), false);
  EXPECT_EQ(gpu.value("dedicatedBytes", uint64_t{0}), uint64_t{6143} << 20);
  EXPECT_EQ(gpu.value("tier", ""), "small");
  EXPECT_NE(gpu.value("text", "").find("（专用显存 6 GB）\n显存低于 6 GB"), std::string::npos);
}

TEST_F(WineDxgi, DescribesTheDirectDrawEmulation) {
  writeString(L"renderer", L"no3d");
  writeString(L"VideoMemorySize", std::nullopt);  // the emulation's own default size
  const nlohmann::json gpu = runGpuTool();
  EXPECT_EQ(gpu.value("name", ""), "WineD3D DirectDraw Emulation");
  EXPECT_EQ(gpu.value("dedicatedBytes", uint64_t{0}), uint64_t{128} << 20);
  EXPECT_EQ(gpu.value("capable", true), false);
  EXPECT_EQ(gpu.value("tier", ""), "small");
}

}  // namespace
