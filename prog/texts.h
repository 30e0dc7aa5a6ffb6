// The texts of the job machinery: its own failures and the log lines of an unattended run.
#pragma once

namespace prog {

// Failures of the job itself, as the window shows them.
inline constexpr wchar_t kInternalError[] = L"内部错误";
inline constexpr wchar_t kUnknownError[] = L"未知错误";

// The run log: a stage's or a package's end, its size and its time.
inline constexpr wchar_t kSecondsFormat[] = L"%.1f 秒";
inline constexpr wchar_t kBytesOpen[] = L" (";
inline constexpr wchar_t kBytesClose[] = L" 字节)";
inline constexpr wchar_t kTimeSeparator[] = L"，";
inline constexpr wchar_t kPackageEndBefore[] = L"安装包 ";  // then number/count
inline constexpr wchar_t kPackageEndAfter[] = L" 结束：";    // then size and time

}  // namespace prog
