#include "util/quote.h"

namespace util {

std::wstring quoteArgument(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    out += c;
    backslashes = 0;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring buildCommandLine(const std::wstring& program, const std::vector<std::wstring>& args) {
  std::wstring line = quoteArgument(program);
  for (const std::wstring& arg : args) line += L' ' + quoteArgument(arg);
  return line;
}

}  // namespace util
