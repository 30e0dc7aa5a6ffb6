// The uninstaller's texts as its users and administrators read them: its boxes, and the lines of
// the unattended removal's run log.
#pragma once

#include "util/product.h"

namespace uninstall {

inline constexpr wchar_t kCaption[] = ORVALO_PRODUCT_NAME L" 卸载";

// The two questions: the first names the folder between prefix and suffix.
inline constexpr wchar_t kConfirmPrefix[] = L"将卸载 " ORVALO_PRODUCT_NAME L"：\n\n";
inline constexpr wchar_t kConfirmSuffix[] =
    L"\n\n注意：安装目录下的 models\\llm 模型文件（您自行下载，可能数百 MB 至数 GB）也会一并删除。"
    L"\n\n是否继续？";
inline constexpr wchar_t kPurgeQuestion[] =
    L"是否同时删除用户数据（登录状态、配置、日志、WebView 缓存）？\n\n"
    L"选“否”＝保留，重装后免重新登录；选“是”＝彻底清除。";

// Refusals and failures; the first is followed by the folder.
inline constexpr wchar_t kNotInstalledPrefix[] = L"未找到 " ORVALO_PRODUCT_NAME L" 的安装：";
inline constexpr wchar_t kFolderBusy[] = L"正在升级，请在升级完成后再卸载。";
inline constexpr wchar_t kCopyFailed[] = L"卸载失败：无法在临时目录创建卸载程序。";
inline constexpr wchar_t kStartFailed[] = L"卸载失败：无法启动临时卸载程序。";

// The result, worded a little differently by the worker; the kept line is followed by the folder.
inline constexpr wchar_t kRemoved[] = ORVALO_PRODUCT_NAME L" 已卸载。";
inline constexpr wchar_t kPartlyRemovedHere[] =
    L"卸载完成，但部分文件正被占用，未能全部删除。\n请重启后手动删除残留目录。";
inline constexpr wchar_t kPartlyRemovedByWorker[] =
    L"卸载完成，但部分文件正被占用，未能全部删除。\n请重启后手动删除残留的安装目录。";
inline constexpr wchar_t kKeptPrefix[] = L"\n已保留数据库文件：";

// The unattended removal's run log: its first line is the prefix, the folder and one of the two
// suffixes; the hand-over line is followed by the worker's path.
inline constexpr wchar_t kSilentStartPrefix[] = L"OrvaloSetup 静默卸载开始：";
inline constexpr wchar_t kSilentPurgeSuffix[] = L"（删除用户数据和数据库）";
inline constexpr wchar_t kSilentKeepSuffix[] = L"（保留数据库）";
inline constexpr wchar_t kHandedOverPrefix[] = L"由临时卸载程序继续：";

}  // namespace uninstall
