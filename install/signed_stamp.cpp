#include "install/signed_stamp.h"

#include "install/texts.h"

#include <algorithm>
#include <cstring>

namespace install {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kContext0 = 0xA0;  // [0], constructed
constexpr uint8_t kContext1 = 0xA1;
constexpr uint8_t kContext3 = 0xA3;

// 1.2.840.113549.1.7.2, PKCS#7 signedData.
constexpr std::string_view kSignedDataOid("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9);
// 2.25.297951096306141510331614617510506791768: an OID of our own, made from a random UUID, so
// that no other certificate extension can be taken for the payload.
constexpr std::string_view kStampExtensionOid(
    "\x69\x83\xC0\xA7\xA5\xCE\x96\xAD\x82\x9A\xC1\xBE\xED\x85\xA2\xE8\x84\xA8\x86\x58", 20);

constexpr uint16_t kCertRevision2 = 0x0200;
constexpr uint16_t kCertTypePkcsSignedData = 0x0002;
constexpr size_t kWinCertificateHeader = 8;
// A signature with a full chain and a timestamp has a few tens of KiB; the payload adds at most 64.
constexpr uint32_t kMaxTableBytes = 4u << 20;
constexpr size_t kHeadBytes = 4096;

uint32_t le16(std::string_view b, size_t at) {
  return uint32_t{static_cast<uint8_t>(b[at])} | (uint32_t{static_cast<uint8_t>(b[at + 1])} << 8);
}

uint32_t le32(std::string_view b, size_t at) { return le16(b, at) | (le16(b, at + 2) << 16); }

void putLe32(std::string& b, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string_view bytesOf(std::string_view der, const DerItem& item) {
  return der.substr(item.start, item.end - item.start);
}

std::string_view contentsOf(std::string_view der, const DerItem& item) {
  return der.substr(item.body, item.end - item.body);
}

// An item with that tag around contents, its length in the shortest form.
std::string derEncode(uint8_t tag, std::string_view contents) {
  std::string out(1, static_cast<char>(tag));
  const size_t length = contents.size();
  if (length < 0x80) {
    out += static_cast<char>(length);
  } else {
    std::string digits;
    for (size_t rest = length; rest != 0; rest >>= 8) digits.insert(digits.begin(), static_cast<char>(rest & 0xFF));
    out += static_cast<char>(0x80 | digits.size());
    out += digits;
  }
  out += contents;
  return out;
}

// The payload in a certificate when it is the stamp certificate: Certificate { TBSCertificate {
// ..., [3] { Extensions { Extension { kStampExtensionOid, OCTET STRING } } } }, ... }.
bool stampPayloadOf(std::string_view der, const DerItem& certificate, std::string_view& payload) {
  std::vector<DerItem> parts;
  if (!derChildren(der, certificate, parts) || parts.empty() || parts[0].tag != kSequence) return false;
  std::vector<DerItem> tbs;
  if (!derChildren(der, parts[0], tbs)) return false;
  for (const DerItem& field : tbs) {
    if (field.tag != kContext3) continue;
    std::vector<DerItem> wrapper, extensions, extension;
    if (!derChildren(der, field, wrapper) || wrapper.size() != 1 || !derChildren(der, wrapper[0], extensions)) {
      return false;
    }
    for (const DerItem& item : extensions) {
      if (!derChildren(der, item, extension) || extension.size() < 2) continue;
      if (extension.front().tag == kOid && contentsOf(der, extension.front()) == kStampExtensionOid &&
          extension.back().tag == kOctetString) {
        payload = contentsOf(der, extension.back());
        return true;
      }
    }
  }
  return false;
}

// A certificate table of one PKCS#7 entry, taken apart.
struct Signature {
  std::string_view der;       // the entry's contents, after its 8-byte header
  DerItem contentInfo;
  std::vector<DerItem> fields;  // SignedData's; the certificate set is fields[3]
  std::vector<DerItem> certs;
  int stamp = -1;  // index in certs of the stamp certificate
  std::string_view payload;
};

bool parseTable(std::string_view table, Signature& sig, std::wstring& error) {
  error = kSignatureEntryBad;
  if (table.size() < kWinCertificateHeader) return false;
  const uint32_t length = le32(table, 0);
  if (length <= kWinCertificateHeader || length > table.size() || le16(table, 4) != kCertRevision2 ||
      le16(table, 6) != kCertTypePkcsSignedData) {
    return false;
  }
  // One entry only: what follows it is at most its alignment.
  if (((length + 7u) & ~7u) != table.size() && length != table.size()) return false;
  sig.der = table.substr(kWinCertificateHeader, length - kWinCertificateHeader);

  error = kSignatureDerBad;
  if (!readDerItem(sig.der, 0, sig.der.size(), sig.contentInfo) || !checkDerTree(sig.der, sig.contentInfo)) {
    return false;
  }
  error = kSignatureTrailingBytes;
  const std::string_view after = sig.der.substr(sig.contentInfo.end);
  if (std::any_of(after.begin(), after.end(), [](char c) { return c != 0; })) return false;

  error = kSignatureNotSignedData;
  std::vector<DerItem> top, wrapped;
  if (sig.contentInfo.tag != kSequence || !derChildren(sig.der, sig.contentInfo, top) || top.size() != 2 ||
      top[0].tag != kOid || contentsOf(sig.der, top[0]) != kSignedDataOid || top[1].tag != kContext0 ||
      !derChildren(sig.der, top[1], wrapped) || wrapped.size() != 1 || wrapped[0].tag != kSequence ||
      !derChildren(sig.der, wrapped[0], sig.fields)) {
    return false;
  }
  // version, digestAlgorithms, contentInfo, [0] certificates, [1] crls (optional), signerInfos.
  // An Authenticode signature always carries at least the signer's certificate.
  const std::vector<DerItem>& f = sig.fields;
  if (f.size() < 5 || f.size() > 6 || f[0].tag != kInteger || f[1].tag != kSet || f[2].tag != kSequence ||
      f[3].tag != kContext0 || (f.size() == 6 && f[4].tag != kContext1) || f.back().tag != kSet ||
      !derChildren(sig.der, f[3], sig.certs)) {
    return false;
  }
  for (size_t i = 0; i < sig.certs.size(); ++i) {
    if (sig.certs[i].tag != kSequence) return false;
    std::string_view payload;
    if (sig.stamp < 0 && stampPayloadOf(sig.der, sig.certs[i], payload)) {
      sig.stamp = static_cast<int>(i);
      sig.payload = payload;
    }
  }
  error.clear();
  return true;
}

bool checkDepth(std::string_view der, const DerItem& item, int depthLeft) {
  if ((item.tag & 0x20) == 0) return true;  // primitive: its contents are not items
  if (depthLeft <= 0) return false;
  size_t at = item.body;
  while (at < item.end) {
    DerItem child;
    if (!readDerItem(der, at, item.end, child) || !checkDepth(der, child, depthLeft - 1)) return false;
    at = child.end;
  }
  return true;
}

bool sizeOk(std::string_view payload) {
  return payload.size() >= kMinChannelPayload && payload.size() <= kMaxChannelPayload;
}

}  // namespace

bool readDerItem(std::string_view der, size_t at, size_t limit, DerItem& item) {
  limit = std::min(limit, der.size());
  if (at >= limit || limit - at < 2) return false;
  const uint8_t tag = static_cast<uint8_t>(der[at]);
  if ((tag & 0x1F) == 0x1F) return false;  // multi-byte tags are never used in a signature
  const uint8_t first = static_cast<uint8_t>(der[at + 1]);
  size_t length = 0;
  size_t body = at + 2;
  if (first < 0x80) {
    length = first;
  } else {
    const size_t digits = first & 0x7F;
    // 0x80 alone is the indefinite form; more than 4 digits is more than a file can hold here.
    if (digits == 0 || digits > 4 || limit - body < digits) return false;
    if (der[body] == 0) return false;  // a leading zero: not the shortest form
    for (size_t i = 0; i < digits; ++i) length = (length << 8) | static_cast<uint8_t>(der[body + i]);
    if (length < 0x80) return false;  // would have fitted in the short form
    body += digits;
  }
  if (length > limit - body) return false;
  item.tag = tag;
  item.start = at;
  item.body = body;
  item.end = body + length;
  return true;
}

bool derChildren(std::string_view der, const DerItem& parent, std::vector<DerItem>& children) {
  children.clear();
  size_t at = parent.body;
  while (at < parent.end) {
    DerItem child;
    if (!readDerItem(der, at, parent.end, child)) return false;
    children.push_back(child);
    at = child.end;
  }
  return true;
}

bool checkDerTree(std::string_view der, const DerItem& root, int maxDepth) {
  return checkDepth(der, root, maxDepth);
}

bool readPeLayout(std::string_view head, PeLayout& layout) {
  layout = PeLayout{};
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
  const size_t pe = le32(head, 0x3C);
  if (pe > head.size() || head.size() - pe < 24 || head.substr(pe, 4) != std::string_view("PE\0\0", 4)) {
    return false;
  }
  const size_t optional = pe + 24;
  const size_t optionalSize = le16(head, pe + 20);
  if (optionalSize > head.size() - optional || optionalSize < 2) return false;
  const uint32_t magic = le16(head, optional);
  size_t countOffset = 0;
  if (magic == 0x20B) {
    countOffset = 108;  // PE32+
  } else if (magic == 0x10B) {
    countOffset = 92;  // PE32
  } else {
    return false;
  }
  if (optionalSize < countOffset + 4) return false;
  layout.checksumOffset = optional + 64;
  const uint32_t directories = le32(head, optional + countOffset);
  const size_t security = optional + countOffset + 4 + 4 * 8;  // entry 4: IMAGE_DIRECTORY_ENTRY_SECURITY
  if (directories <= 4) return true;
  if (security + 8 > optional + optionalSize) return false;
  layout.securityEntryOffset = security;
  layout.tableOffset = le32(head, security);
  layout.tableSize = le32(head, security + 4);
  return true;
}

uint32_t peChecksum(std::string_view image, size_t checksumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    uint32_t word = static_cast<uint8_t>(image[i]);
    if (i + 1 < image.size()) word |= uint32_t{static_cast<uint8_t>(image[i + 1])} << 8;
    if (i >= checksumOffset && i < checksumOffset + 4) word = 0;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}

bool payloadFromTrailer(std::string_view bytes, std::string& payload) {
  payload.clear();
  if (bytes.size() <= kStampTrailerBytes) return false;
  const size_t trailer = bytes.size() - kStampTrailerBytes;
  if (std::memcmp(bytes.data() + trailer, kChannelStampMagic, sizeof kChannelStampMagic) != 0) return false;
  const uint32_t length = le32(bytes, trailer + 4);
  if (length < kMinChannelPayload || length > kMaxChannelPayload || length > trailer) return false;
  payload.assign(bytes.substr(trailer - length, length));
  return true;
}

bool payloadBeforeTable(std::string_view bytes, std::string& payload) {
  for (size_t padding = 0; padding < 8 && padding < bytes.size(); ++padding) {
    if (payloadFromTrailer(bytes.substr(0, bytes.size() - padding), payload)) return true;
    if (bytes[bytes.size() - 1 - padding] != 0) break;
  }
  payload.clear();
  return false;
}

bool payloadFromTable(std::string_view table, std::string& payload) {
  payload.clear();
  Signature sig;
  std::wstring error;
  if (!parseTable(table, sig, error) || sig.stamp < 0 || !sizeOk(sig.payload)) return false;
  payload.assign(sig.payload);
  return true;
}

bool findChannelPayload(uint64_t fileSize, const ReadAt& readAt, std::string& payload) {
  payload.clear();
  std::string bytes;
  const size_t tail = static_cast<size_t>(std::min<uint64_t>(fileSize, kMaxChannelPayload + kStampTrailerBytes));
  if (readAt(fileSize - tail, tail, bytes) && payloadFromTrailer(bytes, payload)) return true;

  PeLayout layout;
  if (!readAt(0, static_cast<size_t>(std::min<uint64_t>(fileSize, kHeadBytes)), bytes) ||
      !readPeLayout(bytes, layout)) {
    return false;
  }
  if (layout.tableSize == 0 || layout.tableSize > kMaxTableBytes ||
      uint64_t{layout.tableOffset} + layout.tableSize != fileSize) {
    return false;
  }
  if (readAt(layout.tableOffset, layout.tableSize, bytes) && payloadFromTable(bytes, payload)) return true;
  const size_t before = std::min<size_t>(layout.tableOffset, kMaxChannelPayload + kStampTrailerBytes + 7);
  return readAt(layout.tableOffset - before, before, bytes) && payloadBeforeTable(bytes, payload);
}

bool findChannelPayload(std::string_view image, std::string& payload) {
  return findChannelPayload(image.size(), [image](uint64_t offset, size_t count, std::string& bytes) {
    if (offset > image.size() || count > image.size() - offset) return false;
    bytes.assign(image.substr(static_cast<size_t>(offset), count));
    return true;
  }, payload);
}

std::string stampCertificate(std::string_view payload) {
  using namespace std::string_view_literals;
  const std::string ed25519 = derEncode(kSequence, "\x06\x03\x2B\x65\x70"sv);
  const std::string name = derEncode(kSequence, derEncode(kSet, derEncode(kSequence,
      std::string("\x06\x03\x55\x04\x03") /* commonName */ + derEncode(0x0C, "OrvaloSetup channel stamp"))));
  const std::string validity = derEncode(kSequence, derEncode(0x17, "260101000000Z") + derEncode(0x17, "491231235959Z"));
  // No key signs with it: the key and the signature are zeros of the right sizes.
  const std::string publicKey = derEncode(kSequence, ed25519 + derEncode(0x03, std::string(33, '\0')));
  const std::string extension = derEncode(kSequence, derEncode(kOid, kStampExtensionOid) + derEncode(kOctetString, payload));
  const std::string tbs = derEncode(kSequence,
      std::string("\xA0\x03\x02\x01\x02") /* v3 */ + derEncode(kInteger, "\x01"sv) + ed25519 + name + validity + name +
      publicKey + derEncode(kContext3, derEncode(kSequence, extension)));
  return derEncode(kSequence, tbs + ed25519 + derEncode(0x03, std::string(65, '\0')));
}

bool stampSignedImage(std::string& image, const PeLayout& layout, std::string_view payload, std::wstring& error) {
  if (layout.securityEntryOffset == 0 || layout.tableSize == 0 ||
      uint64_t{layout.tableOffset} + layout.tableSize != image.size()) {
    error = kSignatureNotLast;
    return false;
  }
  Signature sig;
  if (!parseTable(std::string_view(image).substr(layout.tableOffset), sig, error)) return false;

  // The certificates, the old stamp left out and the new one last.
  std::string certs;
  for (size_t i = 0; i < sig.certs.size(); ++i) {
    if (static_cast<int>(i) != sig.stamp) certs += bytesOf(sig.der, sig.certs[i]);
  }
  certs += stampCertificate(payload);
  std::string signedData;
  for (size_t i = 0; i < sig.fields.size(); ++i) {
    signedData += i == 3 ? derEncode(kContext0, certs) : std::string(bytesOf(sig.der, sig.fields[i]));
  }
  const std::string contentInfo = derEncode(kSequence, derEncode(kOid, kSignedDataOid) +
                                                           derEncode(kContext0, derEncode(kSequence, signedData)));
  const size_t entry = (kWinCertificateHeader + contentInfo.size() + 7) & ~size_t{7};
  if (uint64_t{layout.tableOffset} + entry > 0xFFFFFFFFu) {
    error = kSignatureTooLarge;
    return false;
  }
  std::string table("\0\0\0\0\x00\x02\x02\x00", 8);  // the length, revision 2.0, PKCS#7 SignedData
  putLe32(table, 0, static_cast<uint32_t>(entry));
  table += contentInfo;
  table.resize(entry, '\0');

  image.resize(layout.tableOffset);
  image += table;
  putLe32(image, layout.securityEntryOffset + 4, static_cast<uint32_t>(entry));
  putLe32(image, layout.checksumOffset, peChecksum(image, layout.checksumOffset));
  error.clear();
  return true;
}

}  // namespace install
