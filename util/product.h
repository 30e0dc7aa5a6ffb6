// The product's two names, each written once. Texts that name the product are built from them;
// the macros exist so that a text can be one literal, joined by the compiler ("名字 卸载").
#pragma once

// The Chinese name users know: the shortcut, the entry in Windows' list, the uninstaller's texts.
#define ORVALO_PRODUCT_NAME L"Orvalo量化"
// The Latin name: the publisher, the folders, the window titles.
#define ORVALO_PRODUCT_LATIN_NAME L"OrvaloTrader"

namespace product {

inline constexpr wchar_t kName[] = ORVALO_PRODUCT_NAME;
inline constexpr wchar_t kLatinName[] = ORVALO_PRODUCT_LATIN_NAME;

}  // namespace product
