// The lines the unattended install writes to its log and console for the administrator.
#pragma once

#include "util/product.h"

namespace silent {

inline constexpr wchar_t kStarted[] = L"OrvaloSetup 静默安装开始";
// Each refusal before anything is changed ends with kNothingChanged.
inline constexpr wchar_t kNothingChanged[] = L" 未做任何更改。";
inline constexpr wchar_t kLogNotWritable[] = L"无法写入日志文件：";  // + the log path
inline constexpr wchar_t kAgreementNotAccepted[] =
    L"未指定 --accept-agreement：安装前必须接受用户协议。未做任何更改。";
inline constexpr wchar_t kFolderRefused[] = L"安装目录不可用：";  // + the reason
inline constexpr wchar_t kFolderInUse[] = L"此目录正被另一个升级、安装或卸载使用：";  // + the folder
inline constexpr wchar_t kAnotherInstall[] = L"另一个 " ORVALO_PRODUCT_LATIN_NAME L" 安装正在进行。未做任何更改。";
inline constexpr wchar_t kNoEventNothingChanged[] = L"无法创建事件。未做任何更改。";
inline constexpr wchar_t kInstallFolder[] = L"安装目录：";  // + the folder

inline constexpr wchar_t kServerAgreementAccepted[] = L"已接受服务器的用户协议，版本 ";  // + the version
inline constexpr wchar_t kBuiltInAgreementAccepted[] = L"无法获取服务器的用户协议，已接受安装器内置的用户协议";
inline constexpr wchar_t kCudaSkipped[] = L"跳过 CUDA 组件：本机显卡不满足要求（需至少 6 GB 独立显存）";
inline constexpr wchar_t kCudaSkippedAdapter[] = L"，检测到 ";  // + the adapter

inline constexpr wchar_t kNoEvent[] = L"无法创建事件";
inline constexpr wchar_t kNoThread[] = L"无法启动安装线程";

// The last line: kDone + the main program + kDoneExitZero, or kFailed + the failure +
// kExitCodePrefix + the code + kExitCodeSuffix.
inline constexpr wchar_t kDone[] = L"安装完成：";
inline constexpr wchar_t kDoneExitZero[] = L"（退出码 0）";
inline constexpr wchar_t kFailed[] = L"安装失败：";
inline constexpr wchar_t kExitCodePrefix[] = L"（退出码 ";
inline constexpr wchar_t kExitCodeSuffix[] = L"）";

}  // namespace silent
