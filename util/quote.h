// Building command lines that another process splits back into exactly the same arguments.
#pragma once

#include <string>
#include <vector>

namespace util {

// The argument in double quotation marks, with backslashes and quotation marks escaped the way
// the system's command-line splitting undoes them: backslashes are doubled where they precede a
// quotation mark (also the closing one), an embedded quotation mark becomes \". An argument
// without quotation marks or trailing backslashes just gets the two quotation marks.
std::wstring quoteArgument(const std::wstring& arg);

// The quoted program followed by each quoted argument, separated by single spaces.
std::wstring buildCommandLine(const std::wstring& program, const std::vector<std::wstring>& args);

}  // namespace util
