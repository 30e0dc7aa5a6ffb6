// Owners of CNG handles: an algorithm provider, a hash object, a key.
#pragma once

#include "util/handles.h"

#include <windows.h>
#include <bcrypt.h>

namespace net {

struct CngAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct CngHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { BCryptDestroyHash(h); }
};
struct CngKeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { BCryptDestroyKey(h); }
};
using CngAlgorithm = util::UniqueHandle<CngAlgorithmTraits>;
using CngHash = util::UniqueHandle<CngHashTraits>;
using CngKey = util::UniqueHandle<CngKeyTraits>;

}  // namespace net
