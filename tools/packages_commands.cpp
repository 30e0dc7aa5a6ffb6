#include "packages/zip_extract.h"
#include "tools/tool.h"
#include "util/copy_dir.h"

namespace tool {
namespace {

// unzip ZIP DIR: prints the content root.
int runUnzip(const Args& args) {
  if (args.size() != 2) return fail(L"usage: unzip ZIP DIR");
  std::wstring contentRoot;
  std::wstring failure;
  if (!extractZip(args[0], args[1], contentRoot, &failure, nullptr)) return fail(failure);
  printLine(contentRoot);
  return 0;
}

// copy SRC DST: prints "ok".
int runCopy(const Args& args) {
  if (args.size() != 2) return fail(L"usage: copy SRC DST");
  std::wstring failure;
  if (!util::copyDirContents(args[0], args[1], nullptr, &failure)) return fail(failure);
  printLine("ok");
  return 0;
}

}  // namespace

std::vector<Command> packageCommands() {
  return {
      {L"unzip", "ZIP DIR", runUnzip},
      {L"copy", "SRC DST", runCopy},
  };
}

}  // namespace tool
