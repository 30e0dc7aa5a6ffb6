#include "prog/debug_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "support/temp_dir.h"

TEST(DebugLog, LineFormat) {
  EXPECT_EQ(formatDebugLogLine(7, 5, 3, 9, "[shortcut] ok exe=C:\\量化\\Orvalo.exe"),
            "[07:05:03.009] [shortcut] ok exe=C:\\量化\\Orvalo.exe\r\n");
}

TEST(DebugLog, LinesOf600BytesOrMoreAreDroppedWhole) {
  // 15 bytes of time stamp and blank, 2 of line end.
  EXPECT_EQ(formatDebugLogLine(1, 2, 3, 4, std::string(582, 'a')).size(), 599u);
  EXPECT_TRUE(formatDebugLogLine(1, 2, 3, 4, std::string(583, 'a')).empty());
  EXPECT_TRUE(formatDebugLogLine(1, 2, 3, 4, std::string(5000, 'a')).empty());
}

TEST(DebugLog, AppendsToTheLogInTheTemporaryFolder) {
  const std::wstring path = debugLogPath();
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find(L"\\OrvaloSetup_agr_debug.log"), std::wstring::npos);

  const std::string marker = "debug-log-test " + std::to_string(GetCurrentProcessId()) + " " +
                             std::to_string(GetTickCount64());
  const std::string tooLong = marker + std::string(600, 'x');
  appendDebugLog(tooLong);
  appendDebugLog(marker);
  const std::string log = testing_support::readFileBytes(path);
  const size_t at = log.rfind(marker + "\r\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(at, 15u);
  EXPECT_EQ(log[at - 15], '[');
  EXPECT_EQ(log.find(tooLong), std::string::npos);
}
