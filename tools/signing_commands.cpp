#include "net/signature.h"
#include "tools/texts.h"
#include "tools/tool.h"
#include "util/files.h"

#include <windows.h>

namespace tool {

bool readBase64File(const std::wstring& path, size_t expectedBytes, std::string& bytes) {
  std::string text;
  if (!util::readFile(path, text, 4096)) return false;
  const size_t first = text.find_first_not_of(" \t\r\n");
  const size_t last = text.find_last_not_of(" \t\r\n");
  text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  return net::base64Decode(text, bytes) && bytes.size() == expectedBytes;
}

bool writeBase64File(const std::wstring& path, const std::string& bytes) {
  const std::string line = net::base64Encode(bytes) + "\n";
  return util::writeFile(path, line.data(), line.size());
}

bool signFile(const std::wstring& path, const std::string& bytes, const std::wstring& privateKeyFile,
              std::wstring& error) {
  std::string privateKey, signature;
  if (!readBase64File(privateKeyFile, net::kPrivateKeyBytes, privateKey)) {
    error = kBadPrivateKey + privateKeyFile;
    return false;
  }
  const bool signedOk = net::signBytes(bytes, privateKey, signature);
  SecureZeroMemory(privateKey.data(), privateKey.size());
  if (!signedOk) {
    error = kSigningFailed;
    return false;
  }
  if (!writeBase64File(path + L".sig", signature)) {
    error = kCannotWriteSignature + path + L".sig";
    return false;
  }
  return true;
}

namespace {

// keygen PRIVATE_FILE PUBLIC_FILE: a new key pair; the private key is never printed.
int runKeygen(const Args& args) {
  if (args.size() != 2) return fail(L"usage: keygen PRIVATE_FILE PUBLIC_FILE");
  if (GetFileAttributesW(args[0].c_str()) != INVALID_FILE_ATTRIBUTES) {
    return fail(kPrivateKeyExists + args[0]);
  }
  std::string privateKey, publicKey;
  if (!net::generateSigningKey(privateKey, publicKey)) return fail(kKeyGenerationFailed);
  const bool written = writeBase64File(args[0], privateKey) && writeBase64File(args[1], publicKey);
  SecureZeroMemory(privateKey.data(), privateKey.size());
  if (!written) return fail(kCannotWriteKeys);
  printLine("ok");
  return 0;
}

// sign FILE PRIVATE_FILE: writes FILE.sig.
int runSign(const Args& args) {
  if (args.size() != 2) return fail(L"usage: sign FILE PRIVATE_FILE");
  std::string bytes;
  std::wstring error;
  if (!util::readFile(args[0], bytes)) return fail(kCannotReadFile + args[0]);
  if (!signFile(args[0], bytes, args[1], error)) return fail(error);
  printLine("ok");
  return 0;
}

// verify FILE PUBLIC_FILE: checks FILE.sig.
int runVerify(const Args& args) {
  if (args.size() != 2) return fail(L"usage: verify FILE PUBLIC_FILE");
  std::string bytes, publicKey, signature;
  if (!util::readFile(args[0], bytes)) return fail(kCannotReadFile + args[0]);
  if (!readBase64File(args[1], net::kPublicKeyBytes, publicKey)) return fail(kBadPublicKey + args[1]);
  if (!readBase64File(args[0] + L".sig", net::kSignatureBytes, signature)) {
    return fail(kSignatureMissing + args[0] + L".sig");
  }
  if (!net::verifyBytes(bytes, publicKey, signature)) return fail(kSignatureInvalid);
  printLine("ok");
  return 0;
}

}  // namespace

std::vector<Command> signingCommands() {
  return {{L"keygen", "PRIVATE_FILE PUBLIC_FILE", runKeygen},
          {L"sign", "FILE PRIVATE_FILE", runSign},
          {L"verify", "FILE PUBLIC_FILE", runVerify}};
}

}  // namespace tool
