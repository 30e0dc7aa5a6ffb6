// The texts the package operations (the manifest, extraction, placement) hand to the user.
#pragma once

namespace packages {

inline constexpr wchar_t kManifestFailedPrefix[] = L"获取版本清单失败：";
inline constexpr wchar_t kManifestIncompleteText[] = L"服务器清单缺少主程序或依赖包配置（manifest.ini）";

}  // namespace packages
