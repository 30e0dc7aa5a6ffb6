#include "prog/run_log.h"

#include "prog/size_format.h"
#include "prog/texts.h"
#include "util/paths.h"
#include "util/text.h"

#include <windows.h>

#include <cwchar>

namespace prog {
namespace {

// Progress goes to the console at most this often, so that a fast download does not scroll
// everything else away.
constexpr uint64_t kConsoleProgressMs = 1000;

std::wstring seconds(uint64_t fromTick) {
  wchar_t text[32];
  swprintf(text, 32, kSecondsFormat, static_cast<double>(GetTickCount64() - fromTick) / 1000.0);
  return text;
}

std::wstring timeOfDay() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t text[32];
  swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond);
  return text;
}

// A program of the GUI subsystem has no console of its own; it borrows the console of the
// command prompt or script that started it, when there is one.
util::FileHandle parentConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return {};
  return util::FileHandle(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
}

void writeConsole(HANDLE console, const std::wstring& text) {
  const std::wstring withEnd = text + L"\r\n";
  DWORD written = 0;
  WriteConsoleW(console, withEnd.data(), static_cast<DWORD>(withEnd.size()), &written, nullptr);
}

}  // namespace

std::wstring defaultRunLogPath() { return util::tempDirectory() + L"\\OrvaloSetup_silent.log"; }

RunLog::RunLog(const std::wstring& path, Mode mode) : console_(parentConsole()) {
  // Shared for writing: the removal's first process keeps the file open while its worker appends.
  file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          mode == Mode::kAppend ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void RunLog::line(const std::wstring& text) {
  // Texts made for boxes span lines; in the log every entry is one line behind its time.
  std::wstring stamped = timeOfDay() + text;
  for (wchar_t& c : stamped) {
    if (c == L'\n') c = L' ';
  }
  if (file_) {
    // At the end each time: another process may have appended since.
    SetFilePointerEx(file_.get(), LARGE_INTEGER{}, nullptr, FILE_END);
    const std::string bytes = util::toUtf8(stamped) + "\r\n";
    DWORD written = 0;
    WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  if (console_) writeConsole(console_.get(), stamped);
}

void RunLog::consoleLine(const std::wstring& text) {
  if (console_) writeConsole(console_.get(), text);
}

void LogSink::stage(const std::wstring& text) {
  endStage();
  stageText_ = text;
  stageStart_ = GetTickCount64();
  stageDone_ = stageTotal_ = 0;
}

void LogSink::note(const std::wstring& line) { log_.line(line); }

void LogSink::status(const std::wstring& line) {
  if (!log_.hasConsole()) return;
  const uint64_t now = GetTickCount64();
  if (now - lastConsoleProgress_ < kConsoleProgressMs) return;
  lastConsoleProgress_ = now;
  log_.consoleLine(L"  " + line);
}

void LogSink::progress(uint64_t done, uint64_t total) {
  stageDone_ = done;
  stageTotal_ = total;
}

void LogSink::package(const TotalInfo& total) {
  if (total.index == packageIndex_) return;  // the position moved within the same package
  endStage();
  endPackage();
  packageIndex_ = total.index;
  packageCount_ = total.count;
  packageStart_ = GetTickCount64();
  packageBytes_ = 0;
}

void LogSink::finish() {
  endStage();
  endPackage();
  packageIndex_ = 0;
}

void LogSink::endStage() {
  if (stageText_.empty()) return;
  std::wstring text = stageText_;
  if (stageDone_ != 0 || stageTotal_ != 0) {
    const uint64_t size = stageTotal_ ? stageTotal_ : stageDone_;
    text += L" " + formatSize(size) + kBytesOpen + std::to_wstring(size) + kBytesClose;
    if (packageIndex_ != 0 && packageBytes_ == 0) packageBytes_ = size;
  }
  log_.line(text + kTimeSeparator + seconds(stageStart_));
  stageText_.clear();
}

void LogSink::endPackage() {
  if (packageIndex_ == 0) return;
  log_.line(kPackageEndBefore + std::to_wstring(packageIndex_) + L"/" + std::to_wstring(packageCount_) +
            kPackageEndAfter + formatSize(packageBytes_) + kBytesOpen + std::to_wstring(packageBytes_) + kBytesClose +
            kTimeSeparator + seconds(packageStart_));
}

}  // namespace prog
