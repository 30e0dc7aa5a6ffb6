// The setup debug log: diagnostics the user never sees, one time-stamped line each, appended to
// OrvaloSetup_agr_debug.log in the user's temporary folder.
#pragma once

#include <string>

// Full path of the log file; empty when the temporary folder is unknown.
std::wstring debugLogPath();

// Appends "[hh:mm:ss.mmm] text\r\n" (local time). The file is opened and closed for every line
// so that lines written by different threads interleave whole. A line that would need 600 bytes
// or more is dropped; failures are ignored, a diagnostic must never disturb the caller.
void appendDebugLog(const std::string& utf8Text);

// The formatted line for a time and text, or empty when it would need 600 bytes or more.
std::string formatDebugLogLine(int hour, int minute, int second, int millisecond,
                               const std::string& utf8Text);
