#include "net/sha256.h"

#include "net/error_text.h"
#include "util/handles.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

namespace {

constexpr DWORD kBlockSize = 1048576;

struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { BCryptDestroyHash(h); }
};
using Algorithm = util::UniqueHandle<AlgorithmTraits>;
using Hash = util::UniqueHandle<HashTraits>;

bool failWith(std::wstring* failure, std::wstring text) {
  if (failure) *failure = std::move(text);
  return false;
}

std::string toHex(const unsigned char* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0f];
  }
  return text;
}

}  // namespace

bool sha256File(const std::wstring& path, std::string& digest, std::wstring* failure,
                const ByteProgress& progress) {
  util::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return failWith(failure, L"无法打开文件：" + path + L"（" + lastErrorText() + L"）");
  LARGE_INTEGER fileSize = {};
  const uint64_t size = GetFileSizeEx(file.get(), &fileSize) && fileSize.QuadPart > 0
                            ? static_cast<uint64_t>(fileSize.QuadPart)
                            : 0;  // only the progress total

  // Declared in this order so that the hash object goes before its provider.
  Algorithm algorithm;
  Hash hash;
  DWORD objectLength = 0;
  ULONG got = 0;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM,
                                                  nullptr, 0)) ||
      !BCRYPT_SUCCESS(BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&objectLength),
                                        sizeof objectLength, &got, 0)) ||
      !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
    return failWith(failure, L"SHA256 初始化失败（CNG）");
  }

  std::vector<unsigned char> buffer(kBlockSize);
  uint64_t done = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.data(), kBlockSize, &read, nullptr)) {
      return failWith(failure, L"读取文件失败：" + lastErrorText());
    }
    if (read == 0) break;
    BCryptHashData(hash.get(), buffer.data(), read, 0);
    done += read;
    if (progress && !progress(done, size)) return failWith(failure, kCancelledText);
  }
  file.reset();

  unsigned char value[32] = {};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), value, sizeof value, 0))) return false;
  digest = toHex(value, sizeof value);
  return true;
}
