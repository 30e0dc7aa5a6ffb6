#include "net/signature.h"

#include "net/sha256.h"
#include "net/cng_handles.h"

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace net {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr ULONG kCoordinateBytes = 32;

using Algorithm = CngAlgorithm;
using Key = CngKey;

bool openEcdsa(Algorithm& algorithm) {
  return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
}

// The SHA-256 of bytes as its 32 raw bytes; empty on failure.
std::string rawDigest(const std::string& bytes) {
  const std::string hex = sha256Hex(bytes);
  if (hex.size() != 64) return {};
  std::string raw;
  for (size_t i = 0; i < 64; i += 2) raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return raw;
}

// Imports a key blob: the CNG header followed by the key's bytes (X ‖ Y, or X ‖ Y ‖ d).
bool importKey(const Algorithm& algorithm, const std::string& material, bool isPrivate, Key& key) {
  BCRYPT_ECCKEY_BLOB header{};
  header.dwMagic = isPrivate ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = kCoordinateBytes;
  std::vector<unsigned char> blob(sizeof header + material.size());
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, material.data(), material.size());
  return BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), nullptr,
                                            isPrivate ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB,
                                            key.put(), blob.data(), static_cast<ULONG>(blob.size()), 0));
}

// Arithmetic modulo the prime of P-256, for the one check CNG does not make everywhere (Wine
// imports any 64 bytes as a public key): that a key is a point of the curve at all.
using Number = std::array<uint64_t, 4>;  // least significant 64 bits first
constexpr Number kPrime = {0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFFull, 0, 0xFFFFFFFF00000001ull};
constexpr Number kCurveB = {0x3BCE3C3E27D2604Bull, 0x651D06B0CC53B0F6ull, 0xB3EBBD55769886BCull,
                            0x5AC635D8AA3A93E7ull};

bool below(const Number& a, const Number& b) {
  for (int i = 3; i >= 0; --i) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return false;
}

// a - b, wrapping modulo 2^256.
Number minus(const Number& a, const Number& b) {
  Number out{};
  unsigned borrow = 0;
  for (int i = 0; i < 4; ++i) {
    const uint64_t d = a[i] - b[i] - borrow;
    borrow = (a[i] < b[i] || (a[i] == b[i] && borrow)) ? 1 : 0;
    out[i] = d;
  }
  return out;
}

// (a + b) mod p for a, b below p.
Number addMod(const Number& a, const Number& b) {
  Number sum{};
  unsigned carry = 0;
  for (int i = 0; i < 4; ++i) {
    const uint64_t partial = a[i] + carry;
    sum[i] = partial + b[i];
    carry = (partial < carry || sum[i] < partial) ? 1 : 0;
  }
  return carry || !below(sum, kPrime) ? minus(sum, kPrime) : sum;
}

// (a - b) mod p for a, b below p.
Number subMod(const Number& a, const Number& b) { return below(a, b) ? addMod(a, minus(kPrime, b)) : minus(a, b); }

// (a * b) mod p by doubling and adding, from b's highest bit down.
Number mulMod(const Number& a, const Number& b) {
  Number out{};
  for (int bit = 255; bit >= 0; --bit) {
    out = addMod(out, out);
    if ((b[bit / 64] >> (bit % 64)) & 1) out = addMod(out, a);
  }
  return out;
}

Number fromBigEndian(const std::string& bytes) {
  Number n{};
  for (unsigned char c : bytes) {
    for (int i = 3; i > 0; --i) n[i] = (n[i] << 8) | (n[i - 1] >> 56);
    n[0] = (n[0] << 8) | c;
  }
  return n;
}

// X ‖ Y lies on y² = x³ - 3x + b (mod p), with both coordinates below p.
bool isCurvePoint(const std::string& publicKey) {
  const Number x = fromBigEndian(publicKey.substr(0, kCoordinateBytes));
  const Number y = fromBigEndian(publicKey.substr(kCoordinateBytes, kCoordinateBytes));
  if (!below(x, kPrime) || !below(y, kPrime)) return false;
  const Number threeX = addMod(addMod(x, x), x);
  const Number right = addMod(subMod(mulMod(mulMod(x, x), x), threeX), kCurveB);
  return mulMod(y, y) == right;
}

// Verifies with one key; usableKey says whether the key is a point of the curve that CNG took.
bool verifyWith(const Algorithm& algorithm, const std::string& digest, const std::string& publicKey,
                const std::string& signature, bool& usableKey) {
  Key key;
  usableKey = publicKey.size() == kPublicKeyBytes && isCurvePoint(publicKey) &&
              importKey(algorithm, publicKey, false, key);
  return usableKey && signature.size() == kSignatureBytes &&
         BCRYPT_SUCCESS(BCryptVerifySignature(key.get(), nullptr,
                                              reinterpret_cast<PUCHAR>(const_cast<char*>(digest.data())),
                                              static_cast<ULONG>(digest.size()),
                                              reinterpret_cast<PUCHAR>(const_cast<char*>(signature.data())),
                                              static_cast<ULONG>(signature.size()), 0));
}

}  // namespace

std::string base64Encode(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned value = 0;
    for (size_t k = 0; k < 3; ++k) value = (value << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(value >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

bool base64Decode(const std::string& text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    unsigned value = 0;
    int padding = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const char* at = c ? std::strchr(kAlphabet, c) : nullptr;
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++padding;
        value <<= 6;
        continue;
      }
      if (!at || padding > 0) return false;
      value = (value << 6) | static_cast<unsigned>(at - kAlphabet);
    }
    bytes += static_cast<char>((value >> 16) & 255);
    if (padding < 2) bytes += static_cast<char>((value >> 8) & 255);
    if (padding < 1) bytes += static_cast<char>(value & 255);
  }
  return true;
}

bool generateSigningKey(std::string& privateKey, std::string& publicKey) {
  Algorithm algorithm;
  Key key;
  if (!openEcdsa(algorithm) || !BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm.get(), key.put(), 256, 0)) ||
      !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key.get(), 0))) {
    return false;
  }
  ULONG size = 0;
  if (!BCRYPT_SUCCESS(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0))) return false;
  std::vector<unsigned char> blob(size);
  if (!BCRYPT_SUCCESS(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), size, &size, 0)) ||
      size != sizeof(BCRYPT_ECCKEY_BLOB) + kPrivateKeyBytes) {
    return false;
  }
  privateKey.assign(reinterpret_cast<const char*>(blob.data()) + sizeof(BCRYPT_ECCKEY_BLOB), kPrivateKeyBytes);
  publicKey = privateKey.substr(0, kPublicKeyBytes);
  SecureZeroMemory(blob.data(), blob.size());
  return true;
}

bool signBytes(const std::string& bytes, const std::string& privateKey, std::string& signature) {
  if (privateKey.size() != kPrivateKeyBytes) return false;
  const std::string digest = rawDigest(bytes);
  Algorithm algorithm;
  Key key;
  if (digest.empty() || !openEcdsa(algorithm) || !importKey(algorithm, privateKey, true, key)) return false;
  unsigned char out[kSignatureBytes] = {};
  ULONG size = 0;
  if (!BCRYPT_SUCCESS(BCryptSignHash(key.get(), nullptr,
                                     reinterpret_cast<PUCHAR>(const_cast<char*>(digest.data())),
                                     static_cast<ULONG>(digest.size()), out, sizeof out, &size, 0)) ||
      size != kSignatureBytes) {
    return false;
  }
  signature.assign(reinterpret_cast<const char*>(out), size);
  return true;
}

bool verifyBytes(const std::string& bytes, const std::string& publicKey, const std::string& signature) {
  return verifyBytesWithAnyKey(bytes, {publicKey}, signature);
}

bool verifyBytesWithAnyKey(const std::string& bytes, const std::vector<std::string>& publicKeys,
                           const std::string& signature) {
  const std::string digest = rawDigest(bytes);
  Algorithm algorithm;
  if (publicKeys.empty() || digest.empty() || !openEcdsa(algorithm)) return false;
  bool verified = false;
  for (const std::string& key : publicKeys) {
    bool usableKey = false;
    verified = verifyWith(algorithm, digest, key, signature, usableKey) || verified;
    if (!usableKey) return false;
  }
  return verified;
}

}  // namespace net
