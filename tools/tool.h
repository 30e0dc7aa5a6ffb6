// orvalo-tool: the vendor's diagnostics and benchmark tool, a thin shell over the product's own
// code. Every subcommand prints exactly one result line (UTF-8) on standard output and returns 0
// only on success. Each subsystem contributes its subcommands from a file of its own.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace tool {

using Args = std::vector<std::wstring>;  // the subcommand's own arguments, without its name

struct Command {
  const wchar_t* name;
  const char* usage;  // arguments, for the help text
  int (*run)(const Args& args);
};

// Writes one line (a '\n' is added) as UTF-8 to standard output / standard error.
void printLine(const std::string& utf8);
void printLine(const std::wstring& text);
void printError(const std::string& utf8);

// Prints "error: " + text and returns 1: the common failure ending of a subcommand.
int fail(const std::wstring& text);

// A key or signature file: one line of base64 (surrounding blanks and line ends are ignored)
// that decodes to exactly expectedBytes.
bool readBase64File(const std::wstring& path, size_t expectedBytes, std::string& bytes);
bool writeBase64File(const std::wstring& path, const std::string& bytes);

// Signs bytes (the content of path) with the key in privateKeyFile into path + ".sig".
bool signFile(const std::wstring& path, const std::string& bytes, const std::wstring& privateKeyFile,
              std::wstring& error);

// Splits args into positional arguments and the values of the given options, each of which takes
// one value; false with the reason for an unknown option or one without its value.
bool parseOptions(const Args& args, std::initializer_list<const wchar_t*> names, Args& positional,
                  std::map<std::wstring, std::wstring>& values, std::wstring& error);

// JSON string literal (with quotes) of a wide text.
std::string jsonString(const std::wstring& text);

// Subcommands by subsystem.
std::vector<Command> netCommands();
std::vector<Command> packageCommands();
std::vector<Command> installCommands();
std::vector<Command> hintsCommands();
std::vector<Command> applierCommands();
std::vector<Command> signingCommands();
std::vector<Command> releaseCommands();

}  // namespace tool
