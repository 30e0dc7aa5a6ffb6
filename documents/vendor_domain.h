// The vendor's own domain, fixed when the product is built. It is the one build-time setting of
// the allowlist and of the built-in help address; it lives in a translation unit of its own so
// that the same logic can be linked against another domain without recompiling it.
#pragma once

namespace documents {

// Lower-case registrable domain without a leading dot, for example L"orvalotrader.com".
const wchar_t* vendorDomain();

}  // namespace documents
