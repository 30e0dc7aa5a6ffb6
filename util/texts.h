// The foundation's texts: the folder copy's failures and the descriptions of system errors and
// exceptions. The cancel's text lives with the failure record (util/failure.h).
#pragma once

namespace util {

// The copy's failures: the text, then the file or folder; a replacement's reason follows in
// kReasonOpen … kReasonClose.
inline constexpr wchar_t kCopyFailed[] = L"复制失败：";
inline constexpr wchar_t kReplaceFailed[] = L"替换失败：";
inline constexpr wchar_t kCannotCreateFolder[] = L"无法创建目录：";
inline constexpr wchar_t kSourceMissing[] = L"源目录不存在：";
inline constexpr wchar_t kReasonOpen[] = L"（";
inline constexpr wchar_t kReasonClose[] = L"）";

// A system error without a description of its own: kUnknownErrorCode, the code, kReasonClose.
inline constexpr wchar_t kUnknownErrorCode[] = L"未知错误（代码 ";
// Followed by the exception's own text.
inline constexpr wchar_t kInternalError[] = L"内部错误：";

}  // namespace util
