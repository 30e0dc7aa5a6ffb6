// Where a channel payload lives in the setup executable, on plain bytes (no Windows headers, so
// that every rule can be tried on a buffer):
// - the trailer: payload, "QVCH", the payload's length (32-bit little-endian) at the end of the
//   file, or, in a copy signed after it was stamped, just in front of the certificate table
//   (the signing tool may have added up to 7 zero bytes of alignment in between);
// - the stamp certificate: in a copy stamped after it was signed, an extra entry in the
//   Authenticode signature's certificate set. That set is not covered by the signature, so the
//   signature stays valid; the entry is a well-formed X.509 certificate that no chain uses, whose
//   one extension (kStampExtensionOid) holds the payload as an OCTET STRING.
// The DER is walked with bounds on every length and a limit on the depth; anything unexpected in
// a signature is refused, never repaired.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

constexpr char kChannelStampMagic[4] = {'Q', 'V', 'C', 'H'};
constexpr size_t kMinChannelPayload = 4;
constexpr size_t kMaxChannelPayload = 65536;
constexpr size_t kStampTrailerBytes = 8;

namespace install {

// One DER item: its tag and where its header and contents lie in the buffer.
struct DerItem {
  uint8_t tag = 0;
  size_t start = 0;  // the tag's offset
  size_t body = 0;   // the contents' offset
  size_t end = 0;    // one past the contents
};

// Deeper than any real signature (a nested signature with its timestamp's chain stays below 40).
constexpr int kMaxDerDepth = 64;

// The item at `at`, which must end at or before `limit` (at most der.size()). Only one-byte tags
// and definite lengths in their shortest form, of up to 4 bytes, are taken.
[[nodiscard]] bool readDerItem(std::string_view der, size_t at, size_t limit, DerItem& item);

// The items that exactly fill parent's contents.
[[nodiscard]] bool derChildren(std::string_view der, const DerItem& parent, std::vector<DerItem>& children);

// Whether every constructed item below root, down to maxDepth levels, is exactly filled by items
// that are themselves valid.
[[nodiscard]] bool checkDerTree(std::string_view der, const DerItem& root, int maxDepth = kMaxDerDepth);

// The fields of a PE image's headers that a signature and a stamp touch.
struct PeLayout {
  size_t checksumOffset = 0;       // OptionalHeader.CheckSum
  size_t securityEntryOffset = 0;  // the security directory's (file offset, size); 0 without one
  uint32_t tableOffset = 0;        // the certificate table; both 0 when the image is unsigned
  uint32_t tableSize = 0;
};

// Reads the layout from the file's first bytes (at least up to the end of the data directories).
[[nodiscard]] bool readPeLayout(std::string_view head, PeLayout& layout);

// The image's checksum as the loader computes it: the 16-bit one's-complement sum of the file,
// the checksum field counted as zero, plus the file's length.
uint32_t peChecksum(std::string_view image, size_t checksumOffset);

// The payload of a trailer that ends exactly at the end of bytes.
[[nodiscard]] bool payloadFromTrailer(std::string_view bytes, std::string& payload);

// The payload of a trailer that ends at the end of bytes or up to 7 zero bytes before it.
[[nodiscard]] bool payloadBeforeTable(std::string_view bytes, std::string& payload);

// The payload of the stamp certificate in a certificate table.
[[nodiscard]] bool payloadFromTable(std::string_view table, std::string& payload);

// Reads count bytes at offset into bytes; false when they cannot all be read.
using ReadAt = std::function<bool(uint64_t offset, size_t count, std::string& bytes)>;

// The channel payload of a file of fileSize bytes, looked for in this order: a trailer at the end,
// the stamp certificate, a trailer in front of the certificate table (both only when the table
// ends the file). False, with the payload empty, when there is none.
[[nodiscard]] bool findChannelPayload(uint64_t fileSize, const ReadAt& readAt, std::string& payload);
[[nodiscard]] bool findChannelPayload(std::string_view image, std::string& payload);

// The stamp certificate that carries payload.
std::string stampCertificate(std::string_view payload);

// Puts payload into the signed image's certificate table in place of any stamp certificate it
// has, then updates the enclosing DER lengths, the entry's length, the security directory and the
// checksum. False with the reason, the image untouched, when the signature is not what is expected.
[[nodiscard]] bool stampSignedImage(std::string& image, const PeLayout& layout, std::string_view payload,
                                    std::wstring& error);

}  // namespace install
