// stamp: writes a channel build of the setup executable, the setup followed by its channel stamp.
#include "tools/texts.h"
#include "tools/tool.h"

#include "install/channel_stamp.h"
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

  const uint32_t length = static_cast<uint32_t>(payload.size());
  image += payload;
  image.append(kChannelStampMagic, sizeof kChannelStampMagic);
  for (int shift = 0; shift < 32; shift += 8) image += static_cast<char>((length >> shift) & 0xFF);

  if (!util::writeFile(outPath, image.data(), image.size())) {
    const std::wstring reason = lastErrorText();
    util::deleteFileForce(outPath);  // never leave a truncated executable behind
    return fail(L"cannot write " + outPath + kParenOpen + reason + kParenClose);
  }
  printLine(L"stamped " + outPath + L" (" + std::to_wstring(length) + L" payload bytes)");
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
