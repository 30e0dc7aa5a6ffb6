// The texts of the download paths: the failures that reach the user after the job's own words.
#pragma once

#include <string>

namespace net {

// Followed by the system's reason in brackets (withReason).
inline constexpr wchar_t kInitFailed[] = L"网络初始化失败";
inline constexpr wchar_t kRequestFailed[] = L"创建请求失败";
inline constexpr wchar_t kConnectFailed[] = L"连接服务器失败";
inline constexpr wchar_t kInterrupted[] = L"网络中断";
inline constexpr wchar_t kDiskWriteFailed[] = L"写入磁盘失败";
inline constexpr wchar_t kRenameFailed[] = L"下载文件改名失败";
inline constexpr wchar_t kReasonOpen[] = L"（";
inline constexpr wchar_t kReasonClose[] = L"）";

// After the interruption of a single stream, whose partial file stays.
inline constexpr wchar_t kResumableSuffix[] = L"，保留断点可重试";
inline constexpr wchar_t kBadStatus[] = L"服务器返回异常状态码：";
inline constexpr wchar_t kWrongRange[] = L"服务器返回的数据范围与请求不符";
inline constexpr wchar_t kPartialChanged[] = L"断点文件已被改动，请重试";
inline constexpr wchar_t kCannotWriteFile[] = L"无法写入文件：";  // then the path and the reason

// Redirects.
inline constexpr wchar_t kInsecureRedirect[] = L"拒绝从 https 重定向到 http：";  // then the address
inline constexpr wchar_t kBadRedirect[] = L"重定向地址无效：";  // then the Location as sent
inline constexpr wchar_t kTooManyRedirects[] = L"重定向次数过多";

// The parts.
inline constexpr wchar_t kCannotWritePart[] = L"无法写入分片：";  // then the path and the reason
inline constexpr wchar_t kPartBadStatus[] = L"分片请求异常状态码：";
inline constexpr wchar_t kPartIncomplete[] = L"分片数据不完整";
inline constexpr wchar_t kMergedSizeWrong[] = L"合并后大小异常";  // then （size ≠ total）
inline constexpr wchar_t kNotEqual[] = L" ≠ ";
inline constexpr wchar_t kPartReadFailed[] = L"读取分片失败：";
inline constexpr wchar_t kPartsFailed[] = L"分片下载失败：";  // then the reason and kPartsKept
inline constexpr wchar_t kPartThreadFailed[] = L"分片线程创建失败";
inline constexpr wchar_t kUnknownError[] = L"未知错误";
inline constexpr wchar_t kPartsKept[] = L"（已保留分片断点，可重试）";

// Documents and digests.
inline constexpr wchar_t kTooLargeBefore[] = L"文件过大（超过 ";
inline constexpr wchar_t kTooLargeAfter[] = L" 字节）";
inline constexpr wchar_t kHashSetUpFailedText[] = L"SHA256 初始化失败（CNG）";
inline constexpr wchar_t kCannotOpenFile[] = L"无法打开文件：";  // then the path and the reason
inline constexpr wchar_t kFileReadFailed[] = L"读取文件失败：";

// A text followed by its reason in brackets.
inline std::wstring withReason(const std::wstring& text, const std::wstring& reason) {
  return text + kReasonOpen + reason + kReasonClose;
}

}  // namespace net
