// The steps of the upgrade job that meet other processes: recognising the client, the wait for it
// (with shortened waits) and the replacement of one file that may be held open.
#include "applier/upgrade_steps.h"
#include "support/file_holder.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cwctype>

using namespace applier;
using namespace testing_support;

namespace {

// A child process started from a program of the test's folder.
struct Child {
  util::Handle process;
  DWORD pid = 0;
};

Child startProgram(const std::wstring& program, const std::wstring& args) {
  Child child;
  std::wstring line = L"\"" + util::moduleDirectory() + L"\\" + program + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    ADD_FAILURE() << "cannot start " << std::string(program.begin(), program.end());
    return child;
  }
  child.process.reset(pi.hProcess);
  util::Handle thread(pi.hThread);
  child.pid = pi.dwProcessId;
  return child;
}

DWORD exitCodeOf(const Child& child) {
  DWORD code = 12345;
  GetExitCodeProcess(child.process.get(), &code);
  return code;
}

std::wstring idleProgram() { return util::moduleDirectory() + L"\\idle_process.exe"; }

TEST(ClientProcess, NoIdOrAGoneProcessIsNoClient) {
  EXPECT_FALSE(openClientProcess(L"", idleProgram()));
  EXPECT_FALSE(openClientProcess(L"0", idleProgram()));
  Child gone = startProgram(L"idle_process.exe", L"0");
  ASSERT_EQ(WaitForSingleObject(gone.process.get(), 10000), WAIT_OBJECT_0);
  const DWORD pid = gone.pid;
  gone.process.reset();  // the id is free once nobody holds the process
  EXPECT_FALSE(openClientProcess(std::to_wstring(pid), idleProgram()));
}

// An id that now belongs to another program than the client's is left alone; the client's own
// program is recognised however the plan spells its path.
TEST(ClientProcess, OnlyAProcessRunningTheClientProgramIsTheClient) {
  Child other = startProgram(L"idle_process.exe", L"");
  const std::wstring pid = std::to_wstring(other.pid);
  EXPECT_FALSE(openClientProcess(pid, util::moduleDirectory() + L"\\Orvalo.exe"));
  EXPECT_FALSE(openClientProcess(pid, L""));
  std::wstring spelled = idleProgram();
  for (wchar_t& c : spelled) c = c == L'\\' ? L'/' : static_cast<wchar_t>(towupper(c));
  const util::Handle client = openClientProcess(pid, spelled);
  ASSERT_TRUE(client);
  EXPECT_EQ(GetProcessId(client.get()), other.pid);
  TerminateProcess(other.process.get(), 0);
}

TEST(ClientWait, AClientThatExitsInTimeIsWaitedFor) {
  Child client = startProgram(L"idle_process.exe", L"2000");
  const util::Handle opened = openClientProcess(std::to_wstring(client.pid), idleProgram());
  ASSERT_TRUE(opened);
  int forced = 0;
  EXPECT_TRUE(waitForProcessExit(opened.get(), 20000, 1000, [&] { ++forced; }));
  EXPECT_EQ(forced, 0);
  EXPECT_EQ(exitCodeOf(client), 7u);  // it ended on its own
}

TEST(ClientWait, AClientThatDoesNotExitIsEnded) {
  Child client = startProgram(L"idle_process.exe", L"");
  const util::Handle opened = openClientProcess(std::to_wstring(client.pid), idleProgram());
  ASSERT_TRUE(opened);
  int forced = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(waitForProcessExit(opened.get(), 1500, 10000, [&] { ++forced; }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1450));
  EXPECT_EQ(forced, 1);
  ASSERT_EQ(WaitForSingleObject(client.process.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(exitCodeOf(client), 0u);  // ended with exit code 0
}

TEST(ClientWait, AClientThatCannotBeEndedTimesOut) {
  Child client = startProgram(L"idle_process.exe", L"");
  // A handle that may wait but not end the process, as for a client running under another
  // account.
  util::Handle waitOnly(OpenProcess(SYNCHRONIZE, FALSE, client.pid));
  ASSERT_TRUE(waitOnly);
  int forced = 0;
  EXPECT_FALSE(waitForProcessExit(waitOnly.get(), 200, 200, [&] { ++forced; }));
  EXPECT_EQ(forced, 1);
  EXPECT_EQ(WaitForSingleObject(client.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(client.process.get(), 0);
}

class SingleFileReplacement : public ::testing::Test {
 protected:
  void put(const std::wstring& path, const std::string& bytes) {
    ASSERT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
  }
  TempDir dir_;
};

TEST_F(SingleFileReplacement, PutsTheNewFileInPlaceThroughATemporaryOne) {
  put(dir_ / L"new.exe", "new program");
  put(dir_ / L"Orvalo.exe", "old program");
  put(dir_ / L"Orvalo.exe.upg_tmp", "leftover of an interrupted run");
  std::wstring error;
  ASSERT_TRUE(replaceFile(dir_ / L"new.exe", dir_ / L"Orvalo.exe", &error));
  EXPECT_EQ(readFileBytes(dir_ / L"Orvalo.exe"), "new program");
  EXPECT_FALSE(fileExists(dir_ / L"Orvalo.exe.upg_tmp"));
  EXPECT_TRUE(fileExists(dir_ / L"new.exe"));  // the caller deletes its source
  ASSERT_TRUE(replaceFile(dir_ / L"new.exe", dir_ / L"新文件.txt", &error));
  EXPECT_EQ(readFileBytes(dir_ / L"新文件.txt"), "new program");
}

// A target that another process holds open (a client that is still running) stays whole, and
// the temporary copy beside it goes.
TEST_F(SingleFileReplacement, AHeldTargetStaysIntactAndNoTemporaryFileRemains) {
  put(dir_ / L"new.exe", "new program");
  put(dir_ / L"Orvalo.exe", "old program");
  std::wstring error;
  {
    FileHolder holder(dir_ / L"Orvalo.exe");
    ASSERT_TRUE(holder.holding());
    EXPECT_FALSE(replaceFile(dir_ / L"new.exe", dir_ / L"Orvalo.exe", &error));
  }
  const std::wstring prefix = L"覆盖升级文件失败（";
  EXPECT_EQ(error.substr(0, prefix.size()), prefix);
  EXPECT_GT(error.size(), prefix.size() + 1);
  EXPECT_EQ(error.back(), L'）');
  EXPECT_EQ(readFileBytes(dir_ / L"Orvalo.exe"), "old program");
  EXPECT_FALSE(fileExists(dir_ / L"Orvalo.exe.upg_tmp"));
}

TEST_F(SingleFileReplacement, AMissingSourceLeavesTheTargetAlone) {
  put(dir_ / L"Orvalo.exe", "old program");
  std::wstring error;
  EXPECT_FALSE(replaceFile(dir_ / L"missing.exe", dir_ / L"Orvalo.exe", &error));
  EXPECT_EQ(error.substr(0, 9), L"覆盖升级文件失败（");
  EXPECT_EQ(readFileBytes(dir_ / L"Orvalo.exe"), "old program");
  EXPECT_FALSE(fileExists(dir_ / L"Orvalo.exe.upg_tmp"));
}

}  // namespace
