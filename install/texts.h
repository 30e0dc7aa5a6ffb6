// The install's user-visible texts: the install folder check, the GPU advice on the options page,
// the install job and its finishing steps (shown in the wizard and written to the log), the
// package labels, the registration and the shortcut.
#pragma once

#include "util/product.h"

namespace install {

// Why a typed install folder is refused.
inline constexpr wchar_t kDirEmpty[] = L"请选择或输入安装位置";
inline constexpr wchar_t kDirNotAbsolute[] = L"请输入完整的安装路径，例如 D:\\" ORVALO_PRODUCT_LATIN_NAME;
inline constexpr wchar_t kDirBadCharacters[] = L"安装位置包含无效字符（< > : \" | ? *）";
inline constexpr wchar_t kDirDriveRoot[] = L"安装位置不能是盘符根目录";
inline constexpr wchar_t kDirLocalAppDataRoot[] = L"安装位置不能是 %LOCALAPPDATA% 根目录";
inline constexpr wchar_t kDirIsAFile[] = L"安装位置已存在同名文件，请选择文件夹";
// Followed by the folder, then kDirNotEmptyAdvice.
inline constexpr wchar_t kDirNotEmptyPrefix[] = L"安装位置不为空：";
inline constexpr wchar_t kDirNotEmptyAdvice[] =
    L"\n\n为免卸载时删除其中的其他文件，请勾选“在所选位置下新建 " ORVALO_PRODUCT_LATIN_NAME L" 文件夹”，或选择一个空文件夹。";

// The GPU line: kGpuPrefix, the adapter, kGpuMemoryPrefix, the memory in GB, kGpuMemorySuffix,
// then a lead and a model range.
inline constexpr wchar_t kGpuNoAdapter[] =
    L"显卡：未检测到可用独立显卡（本地 GPU 推理需专用显存 ≥ 6 GB）\n"
    L"推荐本地模型：1.5B ~ 3B（Q4 量化），或改用服务器智能分析";
inline constexpr wchar_t kGpuPrefix[] = L"显卡：";
inline constexpr wchar_t kGpuMemoryPrefix[] = L"（专用显存 ";
inline constexpr wchar_t kGpuMemorySuffix[] = L" GB）";
inline constexpr wchar_t kGpuModelLead[] = L"\n推荐本地模型：";
inline constexpr wchar_t kGpuLowMemoryLead[] = L"\n显存低于 6 GB，推荐本地模型：";
inline constexpr wchar_t kGpuRangeLarge[] = L"14B ~ 32B（Q4 量化）";
inline constexpr wchar_t kGpuRangeMid[] = L"7B ~ 14B（Q4 量化）";
inline constexpr wchar_t kGpuRangeSmallMid[] = L"7B ~ 8B（Q4_K_M 量化）";
inline constexpr wchar_t kGpuRangeSmall[] = L"1.5B ~ 3B（Q4 量化）";

// The packages' labels in the status lines (components are called by their section's name).
inline constexpr wchar_t kLabelDeps[] = L"依赖包";
inline constexpr wchar_t kLabelMain[] = L"主程序";
inline constexpr wchar_t kLabelCuda[] = L"CUDA组件";
// What the install says of the CUDA component on a machine that could use it.
inline constexpr wchar_t kCudaNotOffered[] = L"服务器未提供 CUDA 组件包，NVIDIA 显卡加速将不可用";
inline constexpr wchar_t kCudaNotChosen[] = L"未勾选显卡加速组件，稍后检测到本地模型时会引导下载";

// Why a resource of the setup cannot be read.
inline constexpr wchar_t kResourceMissing[] = L"资源不存在";
inline constexpr wchar_t kResourceNotLoaded[] = L"资源加载失败";
inline constexpr wchar_t kResourceEmpty[] = L"资源内容为空";

// The entry in Windows' list of programs and the desktop shortcut.
inline constexpr wchar_t kDisplayName[] = ORVALO_PRODUCT_NAME;
inline constexpr wchar_t kPublisher[] = ORVALO_PRODUCT_LATIN_NAME;
inline constexpr wchar_t kShortcutFileName[] = ORVALO_PRODUCT_NAME L".lnk";
inline constexpr wchar_t kShortcutDescription[] = L"Orvalo 量化交易客户端";

// Stages: the verb, the package's label, then the ellipsis.
inline constexpr wchar_t kDownloadingStage[] = L"正在下载";
inline constexpr wchar_t kVerifyingStage[] = L"正在校验";
inline constexpr wchar_t kComparingStage[] = L"正在比对已安装的";
inline constexpr wchar_t kFetchingChangesStage[] = L"正在下载变更的";
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
inline constexpr wchar_t kSourceBefore[] = L"来源：";  // then the address a package came from
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
