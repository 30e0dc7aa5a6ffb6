#include "documents/vendor_domain.h"

#ifndef ORVALO_VENDOR_DOMAIN
#error "ORVALO_VENDOR_DOMAIN must be defined by the build"
#endif

#define ORVALO_WIDEN_(x) L##x
#define ORVALO_WIDEN(x) ORVALO_WIDEN_(x)

namespace documents {

const wchar_t* vendorDomain() { return ORVALO_WIDEN(ORVALO_VENDOR_DOMAIN); }

}  // namespace documents
