// The texts of the upgrade: its window and boxes, its plan's failures, its job's stages and
// failures.
#pragma once

#include "util/product.h"

namespace applier {

// The window and the boxes of the upgrade.
inline constexpr wchar_t kTitle[] = ORVALO_PRODUCT_LATIN_NAME L" 升级";
inline constexpr wchar_t kInitialStatus[] = L"正在完成升级…";
inline constexpr wchar_t kNotice[] = L"升级过程中请勿关闭此窗口。完成后主程序将自动启动。";
inline constexpr wchar_t kSuccessStatus[] = L"升级完成";
inline constexpr wchar_t kFailurePrefix[] = L"升级失败：";
inline constexpr wchar_t kUnknownError[] = L"未知错误";
inline constexpr wchar_t kThreadStartFailed[] = L"无法启动升级线程";
inline constexpr wchar_t kShutdownReason[] = L"正在完成升级，请稍候。";
inline constexpr wchar_t kPackageLabelFormat[] = L"升级包 %u/%u";  // number, count
inline constexpr wchar_t kFolderBusy[] = L"此目录正被另一个升级、安装或卸载使用，请等它结束后再升级。";
inline constexpr wchar_t kHelperCopyFailed[] = L"升级器初始化失败：无法复制自身到临时目录";
inline constexpr wchar_t kHelperStartFailed[] = L"升级器启动失败";  // then the reason in （）

// The plan file's failures.
inline constexpr wchar_t kPlanUnreadable[] = L"无法读取升级计划文件：";
inline constexpr wchar_t kPlanBadSize[] = L"升级计划文件无效（空或超限）";
inline constexpr wchar_t kPlanParseFailed[] = L"升级计划解析失败：";
inline constexpr wchar_t kPlanNoItems[] = L"升级计划文件格式无效（缺少 items 列表）";
inline constexpr wchar_t kPlanItemWithoutUrl[] = L"升级计划包含缺少 url 的升级项";
inline constexpr wchar_t kPlanBadIndex[] = L"升级计划包含无效的包索引：";
inline constexpr wchar_t kPlanBadKind[] = L"升级计划包含非法的组件名（kind）：";

// Stages; the counted ones take the package counter, then the ellipsis.
inline constexpr wchar_t kFetchingSizesStage[] = L"正在获取升级包信息…";
inline constexpr wchar_t kDownloadingStage[] = L"正在下载升级包";
inline constexpr wchar_t kVerifyingStage[] = L"正在校验升级包";
inline constexpr wchar_t kComparingStage[] = L"正在比对已安装文件";
inline constexpr wchar_t kFetchingChangesStage[] = L"正在下载变更文件";
inline constexpr wchar_t kExtractingStage[] = L"正在解压升级包";
inline constexpr wchar_t kOverwritingStage[] = L"正在覆盖升级文件";
inline constexpr wchar_t kOverwritingMainStage[] = L"正在覆盖主程序";
inline constexpr wchar_t kStageEllipsis[] = L"…";
inline constexpr wchar_t kWaitingForClientStage[] = L"等待主程序退出…";
inline constexpr wchar_t kForcingClientStage[] = L"主程序未响应，正在强制结束以完成升级…";
inline constexpr wchar_t kLaunchingStage[] = L"启动主程序…";
inline constexpr wchar_t kSnapshotStage[] = L"备份数据库（升级兜底快照）…";
inline constexpr wchar_t kNoSnapshotStage[] = L"数据库备份未生成（无库文件或复制失败），升级继续";
inline constexpr wchar_t kSnapshotDoneStage[] = L"数据库已备份：";  // then the snapshot's folder
inline constexpr wchar_t kRollingBackStage[] = L"升级失败，正在恢复原有文件…";

// Failures; a reason in （） follows where the system gives one.
inline constexpr wchar_t kBadExeArgument[] = L"参数 --exe 无效";
inline constexpr wchar_t kBadKindArgument[] = L"参数 --kind 非法（不能用作组件名）：";
inline constexpr wchar_t kPlanWithoutDigest[] = L"升级计划缺少 SHA256：";
inline constexpr wchar_t kDestParentSegment[] = L"参数 --dest 非法（相对目录不得包含 .. 段）";
inline constexpr wchar_t kDestBadName[] = L"参数 --dest 非法（相对目录包含非法名称）：";
inline constexpr wchar_t kBadDestArgument[] = L"参数 --dest 无效";
inline constexpr wchar_t kJournalWriteFailed[] = L"无法写入升级日志";
inline constexpr wchar_t kClientExitTimeout[] = L"等待主程序退出超时，请手动关闭主程序后重新运行升级";
inline constexpr wchar_t kDownloadFailed[] = L"下载升级包失败：";
inline constexpr wchar_t kDigestMismatch[] = L"升级包校验失败，已放弃覆盖";
inline constexpr wchar_t kExtractFailed[] = L"升级包解压失败：";
inline constexpr wchar_t kContentMissing[] = L"升级内容不存在：";
inline constexpr wchar_t kDatabaseRefused[] = L"拒绝覆盖数据库文件（升级包不得包含用户数据）：";
inline constexpr wchar_t kReplaceFailed[] = L"替换失败：";
inline constexpr wchar_t kMarkerWriteFailed[] = L"写入版本标记失败";
inline constexpr wchar_t kCreateFolderFailed[] = L"创建目标目录失败：";
inline constexpr wchar_t kOverwriteFailed[] = L"覆盖升级文件失败";
inline constexpr wchar_t kReasonOpen[] = L"（";
inline constexpr wchar_t kReasonClose[] = L"）";

}  // namespace applier
