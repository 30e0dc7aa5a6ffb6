// The texts the install job and its finishing steps show in the wizard and write to the log.
#pragma once

namespace install {

// Stages: the verb, the package's label, then the ellipsis.
inline constexpr wchar_t kDownloadingStage[] = L"正在下载";
inline constexpr wchar_t kVerifyingStage[] = L"正在校验";
inline constexpr wchar_t kExtractingStage[] = L"正在解压";
inline constexpr wchar_t kOverwritingStage[] = L"正在覆盖";
inline constexpr wchar_t kStageEllipsis[] = L"…";
inline constexpr wchar_t kFetchingVersionStage[] = L"获取版本信息…";
inline constexpr wchar_t kFetchingSizesStage[] = L"正在获取安装包信息…";
inline constexpr wchar_t kAgreementReadyStage[] = L"协议文本已就绪";
inline constexpr wchar_t kLaunchingStage[] = L"启动主程序…";

// Failures; a reason in （） follows where the system gives one.
inline constexpr wchar_t kCreateFolderFailed[] = L"创建目标目录失败：";
inline constexpr wchar_t kDownloadFailedBefore[] = L"下载";  // then the label
inline constexpr wchar_t kDownloadFailedAfter[] = L"失败：";  // then the download's failure
inline constexpr wchar_t kDigestMismatch[] = L"SHA256 校验失败（文件不完整或被篡改）";  // after the label
inline constexpr wchar_t kReplaceFailed[] = L"替换失败：";
inline constexpr wchar_t kReasonOpen[] = L"（";
inline constexpr wchar_t kReasonClose[] = L"）";
inline constexpr wchar_t kBadServerName[] = L"服务器清单包含非法文件名：";
inline constexpr wchar_t kChannelWriteFailed[] = L"写入渠道配置失败：";
inline constexpr wchar_t kAgreementMissing[] =
    L"协议文本获取失败（网络不可用且内置兜底缺失），已终止安装；请检查网络后重新运行安装器";
inline constexpr wchar_t kAgreementWriteFailed[] = L"写入协议文本失败：";
inline constexpr wchar_t kMainProgramMissing[] = L"安装完成，但未在安装目录找到主程序（";  // then the name, ）

}  // namespace install
