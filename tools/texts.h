// The vendor tool's own texts: its refusals, failures and the result lines of its checks.
#pragma once

namespace tool {

inline constexpr wchar_t kReleaseIniNotUtf8[] = L"release.ini 不是有效的 UTF-8";
// Followed by the line number + kReleaseIniLineSuffix.
inline constexpr wchar_t kReleaseIniLinePrefix[] = L"release.ini 第 ";
inline constexpr wchar_t kReleaseIniLineSuffix[] = L" 行";
inline constexpr wchar_t kDuplicateSectionPrefix[] = L"：重复的节 [";  // + the section + kDuplicateSectionSuffix
inline constexpr wchar_t kDuplicateSectionSuffix[] = L"]";
inline constexpr wchar_t kUnrecognisedLine[] = L"无法识别：";  // + the line
inline constexpr wchar_t kReleaseSectionReserved[] = L"由 --expires 生成，不能写在 release.ini 中";
inline constexpr wchar_t kKeyNotAllowedPrefix[] = L"不能写 ";  // + the key + kKeyNotAllowedSuffix
inline constexpr wchar_t kKeyNotAllowedSuffix[] = L"：地址与摘要由 file= 生成";
inline constexpr wchar_t kFileMissing[] = L"缺少 file=";
inline constexpr wchar_t kFileNotRelative[] = L"file= 必须是发布目录下的相对路径：";  // + the file
inline constexpr wchar_t kFileNotFound[] = L"文件不存在：";  // + the file
inline constexpr wchar_t kAgreementTextWhat[] = L"协议文本";  // what a bound names
inline constexpr wchar_t kAgreementHtmlWhat[] = L"协议 HTML 版本";
inline constexpr wchar_t kHintsWhat[] = L"提示文档";
inline constexpr wchar_t kUnreadableSuffix[] = L"无法读取";  // after what
inline constexpr wchar_t kTooLargePrefix[] = L"过大（超过 ";  // after what; + the bound + kBytesSuffix
inline constexpr wchar_t kBytesSuffix[] = L" 字节）";
// verify-server names a mirror's line by its section and its place: "deps mirror 2".
inline constexpr wchar_t kMirrorEntry[] = L" mirror ";
inline constexpr wchar_t kBadMirrorBase[] = L"--mirror 必须以 http:// 或 https:// 开头：";  // + the address
inline constexpr wchar_t kBadBaseUrl[] = L"BASE_URL 必须以 http:// 或 https:// 开头：";  // + the address
inline constexpr wchar_t kBadExpiry[] = L"有效期无效或已过：";  // + the date
inline constexpr wchar_t kBadSerial[] = L"序号必须是 1 到 18 位十进制数字：";  // + the serial
inline constexpr wchar_t kCannotReadPrefix[] = L"无法读取 ";  // + the path
inline constexpr wchar_t kManifestTooLarge[] = L"版本清单过大";
inline constexpr wchar_t kCannotWritePrefix[] = L"无法写入 ";  // + the path
// Followed by the serial + kValidUntil + the date + kParenClose.
inline constexpr wchar_t kSignedSerialPrefix[] = L"（已签名，序号 ";
inline constexpr wchar_t kValidUntil[] = L"，有效期至 ";
inline constexpr wchar_t kParenOpen[] = L"（";
inline constexpr wchar_t kParenClose[] = L"）";
inline constexpr wchar_t kUnknownOption[] = L"未知选项：";  // + the option
inline constexpr wchar_t kOptionWithoutValue[] = L"选项缺少取值：";  // + the option
inline constexpr wchar_t kAgreementEmpty[] = L"协议文本为空";
inline constexpr wchar_t kAgreementTooLargePrefix[] = L"协议文本过大（超过 ";  // + the bound + kBytesSuffix
inline constexpr wchar_t kAgreementNotUtf8[] = L"协议文本不是有效的 UTF-8";
// Followed by the domain + kHintsNotOnVendorMiddle + the address.
inline constexpr wchar_t kHintsNotOnVendorPrefix[] = L"提示文档必须通过 https 放在厂商域名 ";
inline constexpr wchar_t kHintsNotOnVendorMiddle[] = L" 上：";
inline constexpr wchar_t kHintsTooLargePrefix[] = L"提示文档过大（超过 ";  // + the bound + kBytesSuffix
inline constexpr wchar_t kHintsInvalid[] = L"提示文档无效（不是可用的 JSON 提示文档）";
inline constexpr wchar_t kMainOrDepsMissing[] = L"缺少主程序或依赖包（[main]、[deps]）";
inline constexpr wchar_t kUnusableName[] = L"名称不可用作文件名：";  // + the name
inline constexpr wchar_t kBadPrivateKey[] = L"私钥格式无效：";  // + the file
inline constexpr wchar_t kSigningFailed[] = L"签名失败（CNG）";
inline constexpr wchar_t kCannotWriteSignature[] = L"无法写入签名文件：";  // + the file
inline constexpr wchar_t kPrivateKeyExists[] = L"私钥文件已存在，不会覆盖：";  // + the file
inline constexpr wchar_t kKeyGenerationFailed[] = L"生成密钥失败（CNG）";
inline constexpr wchar_t kCannotWriteKeys[] = L"无法写入密钥文件";
inline constexpr wchar_t kCannotReadFile[] = L"无法读取文件：";  // + the file
inline constexpr wchar_t kBadPublicKey[] = L"公钥格式无效：";  // + the file
inline constexpr wchar_t kSignatureMissing[] = L"签名文件缺失或格式无效：";  // + the file
inline constexpr wchar_t kSignatureInvalid[] = L"签名无效";
inline constexpr wchar_t kAllEntriesFine[] = L" 项全部正常";  // after the count
// The count + kEntriesOf + the failed count + kEntriesFailed.
inline constexpr wchar_t kEntriesOf[] = L" 项中 ";
inline constexpr wchar_t kEntriesFailed[] = L" 项有问题";
inline constexpr wchar_t kBadAddressPrefix[] = L"地址无效或网络初始化失败（";  // + the system error + kParenClose
inline constexpr wchar_t kConnectFailedPrefix[] = L"连接服务器失败（";  // + the system error + kParenClose
inline constexpr wchar_t kRangeIgnored[] = L"服务器忽略 Range（返回 200），无法分段与续传";
inline constexpr wchar_t kUnexpectedStatus[] = L"服务器返回异常状态码：";  // + the status
inline constexpr wchar_t kNoTotalSize[] = L"206 应答缺少带总大小的 Content-Range，大小未知";
inline constexpr wchar_t kMiddleStatusPrefix[] = L"中间范围应答状态码为 ";  // + the status + kMiddleStatusSuffix
inline constexpr wchar_t kMiddleStatusSuffix[] = L"（应为 206）";
inline constexpr wchar_t kMiddleRangePrefix[] = L"中间范围 bytes=";  // + start-end + kMiddleRangeMismatch
inline constexpr wchar_t kMiddleRangeMismatch[] = L" 的应答与请求不符";
inline constexpr wchar_t kBytes[] = L" 字节";  // after a size
inline constexpr wchar_t kDownloadFailed[] = L"下载失败：";  // + the reason
inline constexpr wchar_t kCannotHash[] = L"无法计算 SHA256：";  // + the reason
// Followed by listed + kDigestActual + actual + kParenClose.
inline constexpr wchar_t kDigestMismatchPrefix[] = L"SHA256 不符（清单 ";
inline constexpr wchar_t kDigestActual[] = L"，实际 ";
inline constexpr wchar_t kNoDigestAfterSize[] = L"，清单未给 SHA256";
inline constexpr wchar_t kFetchFailed[] = L"获取失败：";  // + the reason
inline constexpr wchar_t kDigestMismatch[] = L"SHA256 不符";
inline constexpr wchar_t kNoDigest[] = L"清单未给 SHA256";
inline constexpr wchar_t kSignatureValid[] = L"签名有效，序号 ";  // + the serial + kValidUntil + the date
inline constexpr wchar_t kSignatureNotChecked[] = L"未验证签名";

}  // namespace tool
