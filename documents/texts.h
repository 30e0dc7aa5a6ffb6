// The user-visible texts of the server's documents: the built-in hints the options page shows
// until the vendor's hints document replaces them.
#pragma once

namespace documents {

inline constexpr wchar_t kHintsDataSourceIntro[] =
    L"行情数据源：需搭配第三方行情终端（通达信需 TQ 量化版 / 掘金量化），请在下方官网下载并注册账号";
inline constexpr wchar_t kHintsTdxLabel[] = L"通达信官网：www.tdx.com.cn";
inline constexpr wchar_t kHintsMyquantLabel[] = L"掘金量化官网：www.myquant.cn";
inline constexpr wchar_t kHintsModelFileNote[] =
    L"本地大模型文件需自行下载并放入安装目录 models\\llm 文件夹（GGUF 格式）";
inline constexpr wchar_t kHintsMirrorNote[] =
    L"国内网络推荐魔搭社区；Hugging Face 需自行解决访问，第三方镜像请自行评估风险";
// Also the title of a vendor's help link that gives none of its own.
inline constexpr wchar_t kHintsHelpTitle[] = L"本地模型获取与镜像说明";
inline constexpr wchar_t kHintsSmallModelLabel[] = L"Qwen3-1.7B（GGUF Q4，约 1.1 GB）";
inline constexpr wchar_t kHintsMidModelLabel[] = L"Qwen3-8B（GGUF Q4_K_M，约 5 GB）";
inline constexpr wchar_t kHintsLargeModelLabel[] = L"Qwen3-32B（GGUF Q4，约 20 GB）";

}  // namespace documents
