// fetch, probe and sha256: the download and digest code as the product runs it, for measuring
// a server or a line from outside.
#include "tools/tool.h"

#include "net/download.h"
#include "net/http_connection.h"
#include "net/sha256.h"
#include "util/handles.h"

#include <windows.h>
#include <psapi.h>

#include <cwchar>

namespace tool {
namespace {

constexpr ULONGLONG kProgressIntervalMs = 250;  // a few lines a second at most

// Progress on standard error, throttled; the memory figure lets benchmarks check the footprint
// of the Windows process itself rather than Wine's.
class ProgressPrinter {
 public:
  void print(uint64_t done, uint64_t total, bool force) {
    const ULONGLONG now = GetTickCount64();
    if (!force && now - last_ < kProgressIntervalMs) return;
    last_ = now;
    printError(std::to_string(done) + "/" + std::to_string(total) + " bytes");
  }

 private:
  ULONGLONG last_ = 0;
};

void printPeakMemory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    printError("peak-working-set " + std::to_string(counters.PeakWorkingSetSize) + " bytes");
  }
}

bool parseCount(const std::wstring& text, uint64_t& value) {
  if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
  value = std::wcstoull(text.c_str(), nullptr, 10);
  return true;
}

int fetch(const Args& args) {
  uint64_t cancelAfter = 0;
  bool cancelling = false;
  if (args.size() == 4 && args[2] == L"--cancel-after" && parseCount(args[3], cancelAfter)) {
    cancelling = true;
  } else if (args.size() != 2) {
    return fail(L"usage: fetch URL DEST [--cancel-after BYTES]");
  }
  util::Handle cancelEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ProgressPrinter printer;
  // The event is set from the callback, so the download sees it on its own next test, as it
  // would see a window's cancel button.
  const ByteProgress progress = [&](uint64_t done, uint64_t total) {
    printer.print(done, total, false);
    if (cancelling && done >= cancelAfter) SetEvent(cancelEvent.get());
    return true;
  };
  const DownloadResult result = downloadFile(args[0], args[1], progress, cancelEvent.get());
  printPeakMemory();
  if (result.ok()) {
    printLine("ok");
    return 0;
  }
  if (result.cancelled()) {
    printLine("cancelled");
    return 1;
  }
  return fail(result.failure.text);
}

int probe(const Args& args) {
  if (args.size() != 1) return fail(L"usage: probe URL");
  uint64_t size = 0;
  if (queryRemoteSize(args[0], size)) {
    printLine("ranges " + std::to_string(size));
    return 0;
  }
  printLine("no-ranges");
  return 1;
}

int sha256(const Args& args) {
  if (args.size() != 1) return fail(L"usage: sha256 FILE");
  std::string digest;
  util::Failure failure;
  const bool ok = sha256File(args[0], digest, &failure, ByteProgress());
  printPeakMemory();
  if (!ok) return fail(failure.text);
  printLine(digest);
  return 0;
}

}  // namespace

std::vector<Command> netCommands() {
  return {
      {L"fetch", "URL DEST [--cancel-after BYTES]", fetch},
      {L"probe", "URL", probe},
      {L"sha256", "FILE", sha256},
  };
}

}  // namespace tool
