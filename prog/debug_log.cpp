#include "prog/debug_log.h"

#include <windows.h>

#include <cstdio>

#include "util/handles.h"
#include "util/paths.h"

namespace {

constexpr size_t kLineBufferBytes = 600;

}  // namespace

std::wstring debugLogPath() {
  const std::wstring temp = util::tempDirectory();
  if (temp.empty()) return {};
  return temp + L"\\OrvaloSetup_agr_debug.log";
}

std::string formatDebugLogLine(int hour, int minute, int second, int millisecond,
                               const std::string& utf8Text) {
  char buffer[kLineBufferBytes];
  const int needed = std::snprintf(buffer, sizeof buffer, "[%02d:%02d:%02d.%03d] %s\r\n", hour,
                                   minute, second, millisecond, utf8Text.c_str());
  // A cut line would lose its end of line and run into the next one: drop it whole instead.
  if (needed < 0 || static_cast<size_t>(needed) >= kLineBufferBytes) return {};
  return std::string(buffer, static_cast<size_t>(needed));
}

void appendDebugLog(const std::string& utf8Text) {
  const std::wstring path = debugLogPath();
  if (path.empty()) return;
  util::FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::string line =
      formatDebugLogLine(now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, utf8Text);
  if (line.empty()) return;
  // One WriteFile per line: with FILE_APPEND_DATA each write lands whole at the current end.
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
