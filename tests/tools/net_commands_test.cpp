// orvalo-tool's fetch, probe and sha256, run as a separate process the way the vendor runs them:
// one UTF-8 result line on standard output and the exit code.
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace testing_support;

namespace {

struct ToolRun {
  DWORD exitCode = 0xffffffff;
  std::string out;  // standard output, as bytes
};

std::wstring quoted(const std::wstring& arg) { return L"\"" + arg + L"\""; }

ToolRun runTool(const std::vector<std::wstring>& args) {
  ToolRun run;
  std::wstring commandLine = quoted(util::moduleDirectory() + L"\\orvalo-tool.exe");
  for (const std::wstring& arg : args) commandLine += L" " + quoted(arg);

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  util::Handle reader(readEnd);
  util::Handle writer(writeEnd);
  SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  util::FileHandle nul(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.get();
  startup.hStdOutput = writer.get();
  startup.hStdError = nul.get();  // progress lines
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    return run;
  }
  util::Handle processHandle(process.hProcess);
  util::Handle threadHandle(process.hThread);
  writer.reset();  // only the child writes now, so the pipe ends when it exits
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    run.out.append(buffer, got);
  }
  WaitForSingleObject(processHandle.get(), 60000);
  GetExitCodeProcess(processHandle.get(), &run.exitCode);
  return run;
}

TEST(ToolFetch, PrintsOkAndWritesTheFile) {
  ServerScenario scenario;
  const std::string body = patternBytes(9 * 1048576);
  scenario.putFile(L"pkg.zip", body);
  TempDir dir;
  const ToolRun run = runTool({L"fetch", scenario.nginxUrl(L"pkg.zip"), dir / L"pkg.zip"});
  EXPECT_EQ(run.out, "ok\n");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(readFileBytes(dir / L"pkg.zip") == body);
}

TEST(ToolFetch, PrintsTheFailureMessageInUtf8) {
  ServerScenario scenario;
  TempDir dir;
  const ToolRun run = runTool({L"fetch", scenario.nginxUrl(L"absent.zip"), dir / L"pkg.zip"});
  EXPECT_EQ(run.out, util::toUtf8(L"error: 服务器返回异常状态码：404") + "\n");
  EXPECT_EQ(run.exitCode, 1u);
}

TEST(ToolFetch, CancelAfterStopsTheDownloadAndLeavesNothing) {
  ServerScenario scenario;
  scenario.putFile(L"pkg.zip", patternBytes(9 * 1048576));
  TempDir dir;
  const ToolRun run = runTool({L"fetch", scenario.nginxUrl(L"pkg.zip?rate=4m"), dir / L"pkg.zip",
                               L"--cancel-after", L"1048576"});
  EXPECT_EQ(run.out, "cancelled\n");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_FALSE(fileExists(dir / L"pkg.zip"));
  EXPECT_FALSE(fileExists(dir / L"pkg.zip.parts"));
}

TEST(ToolFetch, RejectsMalformedArguments) {
  const ToolRun run = runTool({L"fetch", L"http://127.0.0.1/x", L"C:\\x", L"--cancel-after", L"ten"});
  EXPECT_EQ(run.out.rfind("error: usage: fetch", 0), 0u) << run.out;
  EXPECT_NE(run.exitCode, 0u);
}

TEST(ToolProbe, ReportsRangesWithTheTotalOrNoRanges) {
  ServerScenario scenario;
  scenario.putFile(L"f.bin", patternBytes(12345));
  scenario.setFaultRules(R"({"rules": [{"ignore_range": true}]})");
  const ToolRun ranges = runTool({L"probe", scenario.nginxUrl(L"f.bin")});
  EXPECT_EQ(ranges.out, "ranges 12345\n");
  EXPECT_EQ(ranges.exitCode, 0u);
  const ToolRun none = runTool({L"probe", scenario.faultUrl(L"f.bin")});
  EXPECT_EQ(none.out, "no-ranges\n");
  EXPECT_EQ(none.exitCode, 1u);
}

TEST(ToolSha256, PrintsTheDigestOrTheFailure) {
  TempDir dir;
  const std::string abc = "abc";
  ASSERT_TRUE(util::writeFile(dir / L"abc.txt", abc.data(), abc.size()));
  const ToolRun digest = runTool({L"sha256", dir / L"abc.txt"});
  EXPECT_EQ(digest.out, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n");
  EXPECT_EQ(digest.exitCode, 0u);
  const ToolRun missing = runTool({L"sha256", dir / L"缺少.zip"});
  EXPECT_EQ(missing.out.rfind(util::toUtf8(L"error: 无法打开文件：" + (dir / L"缺少.zip") + L"（"), 0),
            0u)
      << missing.out;
  EXPECT_EQ(missing.exitCode, 1u);
}

}  // namespace
