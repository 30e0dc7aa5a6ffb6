#include "tools/tool.h"

#include "tools/texts.h"
#include "util/text.h"

#include <windows.h>

#include <cstdio>

namespace tool {
namespace {

void writeTo(DWORD stream, const std::string& bytes) {
  // Raw bytes through WriteFile: the console code page must not re-encode the UTF-8.
  HANDLE out = GetStdHandle(stream);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  const std::string line = bytes + "\n";
  DWORD written = 0;
  WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::vector<Command> allCommands() {
  std::vector<Command> all;
  for (auto* group : {netCommands, packageCommands, installCommands, hintsCommands,
                      applierCommands, signingCommands, releaseCommands}) {
    const std::vector<Command> commands = group();
    all.insert(all.end(), commands.begin(), commands.end());
  }
  return all;
}

int usage(const std::vector<Command>& commands) {
  printError("usage: orvalo-tool COMMAND ARGS...");
  for (const Command& c : commands) {
    printError("  " + util::toUtf8(c.name) + " " + c.usage);
  }
  return 2;
}

}  // namespace

void printLine(const std::string& utf8) { writeTo(STD_OUTPUT_HANDLE, utf8); }
void printLine(const std::wstring& text) { writeTo(STD_OUTPUT_HANDLE, util::toUtf8(text)); }
void printError(const std::string& utf8) { writeTo(STD_ERROR_HANDLE, utf8); }

int fail(const std::wstring& text) {
  printLine("error: " + util::toUtf8(text));
  return 1;
}

bool parseOptions(const Args& args, std::initializer_list<const wchar_t*> names, Args& positional,
                  std::map<std::wstring, std::wstring>& values, std::wstring& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].compare(0, 2, L"--") != 0) {
      positional.push_back(args[i]);
      continue;
    }
    bool known = false;
    for (const wchar_t* name : names) known = known || args[i] == name;
    if (!known) {
      error = kUnknownOption + args[i];
      return false;
    }
    if (i + 1 >= args.size()) {
      error = kOptionWithoutValue + args[i];
      return false;
    }
    values[args[i]] = args[i + 1];
    ++i;
  }
  return true;
}

std::string jsonString(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : util::toUtf8(text)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace tool

int wmain(int argc, wchar_t** argv) {
  const std::vector<tool::Command> commands = tool::allCommands();
  if (argc < 2) return tool::usage(commands);
  const std::wstring name = argv[1];
  for (const tool::Command& c : commands) {
    if (name == c.name) return c.run(tool::Args(argv + 2, argv + argc));
  }
  return tool::usage(commands);
}
