// The texts the package operations (the manifest, extraction, placement) hand to the user.
#pragma once

namespace packages {

inline constexpr wchar_t kManifestFailedPrefix[] = L"获取版本清单失败：";
inline constexpr wchar_t kManifestIncompleteText[] = L"服务器清单缺少主程序或依赖包配置（manifest.ini）";
inline constexpr wchar_t kSignatureInvalid[] = L"版本清单签名无效";
inline constexpr wchar_t kExpiryMissing[] = L"版本清单缺少有效期（[release] expires）";
inline constexpr wchar_t kExpired[] = L"版本清单已过期";
inline constexpr wchar_t kSerialMissing[] = L"版本清单缺少有效的序号（[release] serial）";
inline constexpr wchar_t kOutdated[] = L"版本清单已过时";
inline constexpr wchar_t kDigestMissingBefore[] = L"版本清单缺少 SHA256：[";  // then the section
inline constexpr wchar_t kDigestMissingAfter[] = L"]";
inline constexpr wchar_t kDuplicateSection[] = L"版本清单中的组件重复：";
// 版本清单中 [section] key 的值过长（超过 N 个字符）
inline constexpr wchar_t kValueTooLongBefore[] = L"版本清单中 [";
inline constexpr wchar_t kValueTooLongKey[] = L"] ";
inline constexpr wchar_t kValueTooLongLimit[] = L" 的值过长（超过 ";
inline constexpr wchar_t kValueTooLongAfter[] = L" 个字符）";
// 版本清单中 [section] 的镜像地址无效：address
inline constexpr wchar_t kBadMirrorBefore[] = L"版本清单中 [";
inline constexpr wchar_t kBadMirrorAfter[] = L"] 的镜像地址无效：";
// 版本清单中 [section] 的镜像地址过多（超过 N 个）
inline constexpr wchar_t kTooManyMirrorsAfter[] = L"] 的镜像地址过多（超过 ";
inline constexpr wchar_t kTooManyMirrorsEnd[] = L" 个）";
// 版本清单中 [section] 的包索引地址无效：address / 的包索引缺少有效的 SHA256
inline constexpr wchar_t kBadIndexAfter[] = L"] 的包索引地址无效：";
inline constexpr wchar_t kBadIndexDigestAfter[] = L"] 的包索引缺少有效的 SHA256";

// Archives; each failure names the archive, folder or entry after its text.
inline constexpr wchar_t kZipUnreadable[] = L"无法读取压缩包：";
inline constexpr wchar_t kFolderNotMade[] = L"无法创建目录：";
inline constexpr wchar_t kFolderNotRemade[] = L"无法重建解压目录：";
inline constexpr wchar_t kDiskFull[] = L"磁盘空间不足，无法解压：";
inline constexpr wchar_t kExtractFailed[] = L"解压失败：";
inline constexpr wchar_t kOverran[] = L"（解压后的大小超出声明）";
inline constexpr wchar_t kReplaceFailed[] = L"替换失败：";  // then the entry and the reason in （）
inline constexpr wchar_t kReasonOpen[] = L"（";
inline constexpr wchar_t kReasonClose[] = L"）";
inline constexpr wchar_t kEntryDamaged[] = L"压缩包条目损坏（index ";  // then the index and ）
inline constexpr wchar_t kUnsafeEntry[] = L"压缩包含非法路径条目：";

// An index or a fetched entry that cannot be used; the package is then fetched whole.
inline constexpr wchar_t kIndexBadRange[] = L"索引中的条目位置无效：";  // then the entry name
inline constexpr wchar_t kDeltaHeaderBad[] = L"条目的本地头与索引不符：";
inline constexpr wchar_t kDeltaTruncated[] = L"获取的条目数据不完整：";
inline constexpr wchar_t kDeltaInflateFailed[] = L"条目解压失败：";
inline constexpr wchar_t kDeltaSizeMismatch[] = L"条目大小与索引不符：";
inline constexpr wchar_t kDeltaCrcMismatch[] = L"条目 CRC-32 与索引不符：";
inline constexpr wchar_t kDeltaHashMismatch[] = L"条目 SHA-256 与索引不符：";
inline constexpr wchar_t kDeltaWriteFailed[] = L"无法写入条目：";
inline constexpr wchar_t kIndexFetchFailed[] = L"无法获取包索引：";  // then the reason
inline constexpr wchar_t kIndexDigestMismatch[] = L"包索引 SHA256 校验失败";
inline constexpr wchar_t kIndexUnreadable[] = L"包索引无法读取：";  // then the reason
inline constexpr wchar_t kRangesUnsupported[] = L"服务器不支持按范围下载";
inline constexpr wchar_t kRangesUnreadable[] = L"无法读取已获取的条目：";  // then the reason
// The log line of a package fetched whole after all; then one of the reasons above.
inline constexpr wchar_t kWholePackageBefore[] = L"改为下载整个安装包：";

}  // namespace packages
