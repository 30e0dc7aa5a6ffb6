// The one place where platform error codes become text for the user.
#pragma once

#include <string>

// Description of the calling thread's last error (GetLastError is read first, so call it right
// after the failing call). Never empty: unknown codes read "未知错误（代码 N）".
std::wstring lastErrorText();

// The failure text of a job that an exception ended: "内部错误：" and the exception's text
// (UTF-8 or ASCII, as the standard library and the JSON parser write them).
std::wstring internalErrorText(const char* what);

// Removes trailing carriage returns, line feeds and spaces (system texts end in "\r\n").
void trimTrailingBreaks(std::wstring& text);
