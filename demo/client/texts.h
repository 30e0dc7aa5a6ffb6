// The demo client's texts: its window and its update check.
#pragma once

#include "util/product.h"

namespace demo {

inline constexpr wchar_t kTitle[] = ORVALO_PRODUCT_NAME;
// The window's text: kInfoHeading, the version, kInfoChannel, the channel, kInfoFolder, the folder.
inline constexpr wchar_t kInfoHeading[] = ORVALO_PRODUCT_NAME L" 演示客户端\n\n版本：";
inline constexpr wchar_t kInfoChannel[] = L"\n渠道：";
inline constexpr wchar_t kInfoFolder[] = L"\n安装目录：";
inline constexpr wchar_t kUnknown[] = L"（未知）";
inline constexpr wchar_t kNoChannelFile[] = L"（无 channel.ini）";
inline constexpr wchar_t kDefaultChannel[] = L"（默认）";
inline constexpr wchar_t kChannelSource[] = L"，来源 ";
inline constexpr wchar_t kCheckButton[] = L"检查更新";

// The update check: failures are kCheckFailed + the reason.
inline constexpr wchar_t kCheckFailed[] = L"检查更新失败：";
inline constexpr wchar_t kNoUpdateIni[] = L"安装目录中没有 update.ini";
inline constexpr wchar_t kBadSignature[] = L"更新说明签名无效";
// Followed by the parser's reason and kReasonEnd.
inline constexpr wchar_t kBadDescription[] = L"更新说明无效（";
inline constexpr wchar_t kReasonEnd[] = L"）";
// Followed by the installed version and kReasonEnd.
inline constexpr wchar_t kUpToDate[] = L"已是最新版本（";
inline constexpr wchar_t kPlanNotWritten[] = L"无法写入升级计划";
inline constexpr wchar_t kSetupNotStarted[] = L"无法启动 OrvaloSetup.exe";
// Followed by the version, kNewVersionNotes and the notes.
inline constexpr wchar_t kNewVersion[] = L"发现新版本 ";
inline constexpr wchar_t kNewVersionNotes[] = L"：";

}  // namespace demo
