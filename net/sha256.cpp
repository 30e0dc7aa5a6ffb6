#include "net/sha256.h"

#include "net/sha256_blocks.h"
#include "util/error_text.h"
#include "util/handles.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kBlockSize = 1048576;

bool failWith(util::Failure* failure, util::Failure what) {
  if (failure) *failure = std::move(what);
  return false;
}

util::Failure diskFailure(std::wstring text) { return util::failure(util::FailureKind::kDisk, std::move(text)); }

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

bool Sha256::begin(Engine engine) {
  hash_.reset();
  algorithm_.reset();
  static const bool extensions = net::hasShaExtensions();
  own_ = engine == Engine::kFastest && extensions;
  if (own_) {
    std::memcpy(state_, net::kSha256Initial, sizeof state_);
    pendingBytes_ = 0;
    length_ = 0;
    return true;
  }
  DWORD objectLength = 0;
  ULONG got = 0;
  return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM,
                                                    nullptr, 0)) &&
         BCRYPT_SUCCESS(BCryptGetProperty(algorithm_.get(), BCRYPT_OBJECT_LENGTH,
                                          reinterpret_cast<PUCHAR>(&objectLength),
                                          sizeof objectLength, &got, 0)) &&
         BCRYPT_SUCCESS(BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0));
}

void Sha256::addBlocks(const unsigned char* bytes, size_t count) {
  length_ += count;
  if (pendingBytes_ > 0) {
    const size_t take = std::min(count, sizeof pending_ - pendingBytes_);
    std::memcpy(pending_ + pendingBytes_, bytes, take);
    pendingBytes_ += take;
    bytes += take;
    count -= take;
    if (pendingBytes_ < sizeof pending_) return;
    net::sha256Blocks(state_, pending_, 1);
    pendingBytes_ = 0;
  }
  net::sha256Blocks(state_, bytes, count / 64);
  pendingBytes_ = count % 64;
  std::memcpy(pending_, bytes + count - pendingBytes_, pendingBytes_);
}

void Sha256::add(const void* data, size_t count) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  if (own_) return addBlocks(bytes, count);
  // CNG takes at most 4 GiB per call.
  while (count > 0) {
    const ULONG piece = count > 0x40000000 ? 0x40000000 : static_cast<ULONG>(count);
    BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), piece, 0);
    bytes += piece;
    count -= piece;
  }
}

bool Sha256::addFile(HANDLE file, uint64_t count) {
  std::vector<unsigned char> buffer(static_cast<size_t>(std::min<uint64_t>(count, kBlockSize)));
  while (count > 0) {
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(count, buffer.size()));
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), want, &read, nullptr) || read == 0) return false;
    add(buffer.data(), read);
    count -= read;
  }
  return true;
}

std::string Sha256::finish() {
  unsigned char value[32] = {};
  if (own_) {
    // The padding: 0x80, zeros up to 56 bytes in the last block, the length in bits big-endian.
    const uint64_t bits = length_ * 8;
    unsigned char tail[128] = {0x80};
    const size_t padding = (pendingBytes_ < 56 ? 56 : 120) - pendingBytes_;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    addBlocks(tail, padding + 8);
    for (int i = 0; i < 8; ++i) {
      for (int b = 0; b < 4; ++b) value[4 * i + b] = static_cast<unsigned char>(state_[i] >> (24 - 8 * b));
    }
    own_ = false;
    return toHex(value, sizeof value);
  }
  if (!hash_ || !BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), value, sizeof value, 0))) return {};
  hash_.reset();
  return toHex(value, sizeof value);
}

std::string sha256Hex(const std::string& bytes) {
  Sha256 hash;
  if (!hash.begin()) return {};
  hash.add(bytes.data(), bytes.size());
  return hash.finish();
}

bool sha256File(const std::wstring& path, std::string& digest, util::Failure* failure,
                const ByteProgress& progress) {
  util::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return failWith(failure, diskFailure(net::withReason(net::kCannotOpenFile + path, lastErrorText())));
  LARGE_INTEGER fileSize = {};
  const uint64_t size = GetFileSizeEx(file.get(), &fileSize) && fileSize.QuadPart > 0
                            ? static_cast<uint64_t>(fileSize.QuadPart)
                            : 0;  // only the progress total

  Sha256 hash;
  if (!hash.begin()) return failWith(failure, util::failure(util::FailureKind::kInternal, kHashSetUpFailedText));
  // One buffer per thread for all its files: allocating and clearing a fresh one cost more than
  // hashing a small file.
  thread_local std::vector<unsigned char> buffer(kBlockSize);
  uint64_t done = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.data(), kBlockSize, &read, nullptr)) {
      return failWith(failure, diskFailure(net::kFileReadFailed + lastErrorText()));
    }
    if (read == 0) break;
    hash.add(buffer.data(), read);
    done += read;
    if (progress && !progress(done, size)) return failWith(failure, util::cancelledFailure());
  }
  file.reset();

  std::string value = hash.finish();
  if (value.empty()) return false;
  digest = std::move(value);
  return true;
}
