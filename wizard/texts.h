// The wizard's user-visible texts: its title and boxes, the controls of both pages, the installed
// state, the folder dialog, and the status lines of an install.
#pragma once

#include "util/product.h"

namespace wizard {

inline constexpr wchar_t kWindowTitle[] = ORVALO_PRODUCT_LATIN_NAME L" 安装向导";
inline constexpr wchar_t kBoxCaption[] = ORVALO_PRODUCT_LATIN_NAME L" 安装";

// The agreement page.
inline constexpr wchar_t kAgreementTitle[] = L"用户安装协议";
inline constexpr wchar_t kFullAgreementLink[] = L"完整协议（网页版）↗";
inline constexpr wchar_t kAgreementLoading[] = L"正在获取用户安装协议…";
inline constexpr wchar_t kAgreementCheck[] = L"我已阅读并同意《用户安装协议》";
inline constexpr wchar_t kDeclineButton[] = L"拒绝并退出";
inline constexpr wchar_t kAcceptButton[] = L"同意并继续";

// The options page.
inline constexpr wchar_t kSubtitle[] = L"在线安装 · 下载依赖与最新主程序并完成配置";
inline constexpr wchar_t kFolderLabel[] = L"安装位置";
inline constexpr wchar_t kBrowseButton[] = L"浏览…";
inline constexpr wchar_t kSubfolderCheck[] = L"在所选位置下新建 " ORVALO_PRODUCT_LATIN_NAME L" 文件夹";
inline constexpr wchar_t kDataSourceTitle[] = L"行情数据源（必需）";
inline constexpr wchar_t kModelTitle[] = L"本地大模型（可选）";
inline constexpr wchar_t kCudaCheck[] = L"下载NVIDIA显卡加速组件（CUDA，本地大模型GPU推理用，约数百MB）";
inline constexpr wchar_t kModelListLabel[] = L"推荐模型（按显存匹配，点击打开下载页）：";
inline constexpr wchar_t kRecommendedMark[] = L"  ← 推荐";  // after the recommended model
inline constexpr wchar_t kUninstallButton[] = L"卸载";
inline constexpr wchar_t kCancelButton[] = L"取消";
inline constexpr wchar_t kInstallButton[] = L"开始安装";
inline constexpr wchar_t kFolderDialogTitle[] = L"选择安装位置";

// The options page when the product is installed already.
inline constexpr wchar_t kInstalledTitle[] = ORVALO_PRODUCT_NAME L" 已安装";
inline constexpr wchar_t kInstalledSubtitle[] = L"检测到已安装，可重新安装 / 修复（覆盖程序文件），或卸载";
inline constexpr wchar_t kRepairButton[] = L"重新安装 / 修复";

// An install under way and its end.
inline constexpr wchar_t kCancelQuestion[] = L"确定取消安装？未完成的下载将被清理。";
inline constexpr wchar_t kInstallingButton[] = L"安装中…";
inline constexpr wchar_t kRetryButton[] = L"重试安装";
inline constexpr wchar_t kPackageCounterFormat[] = L"安装包 %u/%u";  // index, count
inline constexpr wchar_t kSuccessStatus[] = L"安装完成，主程序已启动。";
inline constexpr wchar_t kFailurePrefix[] = L"安装失败：";  // + the failure
inline constexpr wchar_t kUnknownError[] = L"未知错误";
inline constexpr wchar_t kThreadStartFailed[] = L"无法启动安装线程";
inline constexpr wchar_t kAnotherInstall[] =
    L"另一个 " ORVALO_PRODUCT_LATIN_NAME L" 安装正在进行，请等它结束后再安装。";
inline constexpr wchar_t kFolderBusy[] = L"此目录正被另一个升级、安装或卸载使用，请等它结束后再安装。";

}  // namespace wizard
