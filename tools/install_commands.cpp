// stamp: writes a channel build of the setup executable: the setup followed by its channel stamp,
// or, for a signed setup, the setup with the payload in its signature's certificate set.
#include "tools/texts.h"
#include "tools/tool.h"

#include "install/signed_stamp.h"
#include "util/error_text.h"
#include "util/files.h"

#include <cstdint>

namespace tool {
namespace {

std::wstring readFailure(const std::wstring& path) {
  return L"cannot read " + path + kParenOpen + lastErrorText() + kParenClose;
}

// orvalo-tool stamp SETUP_EXE PAYLOAD_FILE OUT_EXE
int runStamp(const Args& args) {
  if (args.size() != 3) return fail(L"usage: stamp SETUP_EXE PAYLOAD_FILE OUT_EXE");
  const std::wstring& setupPath = args[0];
  const std::wstring& payloadPath = args[1];
  const std::wstring& outPath = args[2];

  std::string payload;
  // One byte more than allowed is enough to tell an oversized payload apart.
  if (!util::readFile(payloadPath, payload, kMaxChannelPayload + 1)) {
    if (GetLastError() != ERROR_FILE_TOO_LARGE) return fail(readFailure(payloadPath));
    return fail(L"the payload must have 4 to 65536 bytes, " + payloadPath + L" has more");
  }
  if (payload.size() < kMinChannelPayload || payload.size() > kMaxChannelPayload) {
    return fail(L"the payload must have 4 to 65536 bytes, " + payloadPath + L" has " +
                std::to_wstring(payload.size()));
  }
  std::string image;
  if (!util::readFile(setupPath, image)) return fail(readFailure(setupPath));
  install::PeLayout layout;
  if (!install::readPeLayout(image, layout)) return fail(setupPath + L" is not a Windows executable");

  // An unsigned setup takes the trailer at its end; a signed one keeps its signature valid with
  // the payload inside it.
  const bool signedSetup = layout.tableOffset != 0 || layout.tableSize != 0;
  const uint32_t length = static_cast<uint32_t>(payload.size());
  if (signedSetup) {
    std::wstring error;
    if (!install::stampSignedImage(image, layout, payload, error)) return fail(setupPath + L": " + error);
  } else {
    image += payload;
    image.append(kChannelStampMagic, sizeof kChannelStampMagic);
    for (int shift = 0; shift < 32; shift += 8) image += static_cast<char>((length >> shift) & 0xFF);
  }

  // Written beside the target and moved over it, so that OUT_EXE is either whole or untouched,
  // even when it is the setup itself.
  const std::wstring partPath = outPath + L".part";
  if (!util::writeFile(partPath, image.data(), image.size()) ||
      !MoveFileExW(partPath.c_str(), outPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::wstring reason = lastErrorText();
    util::deleteFileForce(partPath);
    return fail(L"cannot write " + outPath + kParenOpen + reason + kParenClose);
  }
  printLine(L"stamped " + outPath + L" (" + std::to_wstring(length) + L" payload bytes" +
            (signedSetup ? L", inside its signature)" : L")"));
  return 0;
}

}  // namespace

std::vector<Command> installCommands() {
  return {
      {L"stamp", "SETUP_EXE PAYLOAD_FILE OUT_EXE   write a copy of the setup with a channel stamp",
       runStamp},
  };
}

}  // namespace tool
