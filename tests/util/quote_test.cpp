#include "util/quote.h"

#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

namespace {

// What a process started with this command line sees as its arguments.
std::vector<std::wstring> split(const std::wstring& line) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
  util::LocalMem owner(argv);
  return argv ? std::vector<std::wstring>(argv, argv + argc) : std::vector<std::wstring>{};
}

}  // namespace

TEST(QuoteArgument, PlainArgumentsKeepTheSimpleForm) {
  EXPECT_EQ(util::quoteArgument(L"--apply"), L"\"--apply\"");
  EXPECT_EQ(util::quoteArgument(L"C:\\Program Files\\a b"), L"\"C:\\Program Files\\a b\"");
  EXPECT_EQ(util::quoteArgument(L""), L"\"\"");
}

TEST(QuoteArgument, TrailingBackslashesAndQuotesAreEscaped) {
  EXPECT_EQ(util::quoteArgument(L"D:\\Apps\\"), L"\"D:\\Apps\\\\\"");
  EXPECT_EQ(util::quoteArgument(L"a\"b"), L"\"a\\\"b\"");
  EXPECT_EQ(util::quoteArgument(L"a\\\"b"), L"\"a\\\\\\\"b\"");
}

TEST(QuoteArgument, RoundTripThroughTheSystemSplitter) {
  const std::vector<std::wstring> args = {
      L"--apply", L"--dest", L"D:\\Apps\\", L"--exe", L"C:\\量化 交易\\Orvalo.exe",
      L"say \"hi\"", L"\\\\server\\share\\", L"", L"trailing\\\\", L"\\\"", L"a b\tc", L"\"",
      L"--from-helper"};
  const std::wstring program = L"C:\\Users\\张三\\AppData\\Local\\Temp\\OrvaloSetup_helper.exe";
  const std::vector<std::wstring> back = split(util::buildCommandLine(program, args));
  ASSERT_EQ(back.size(), args.size() + 1);
  EXPECT_EQ(back[0], program);
  for (size_t i = 0; i < args.size(); ++i) EXPECT_EQ(back[i + 1], args[i]) << i;
}
