// The channel stamp: a payload (the content of channel.ini) appended to the setup executable's
// file as payload, "QVCH" and the payload's length (32-bit little-endian). A copy without a
// valid stamp uses the default payload it carries as a resource.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

constexpr char kChannelStampMagic[4] = {'Q', 'V', 'C', 'H'};
constexpr size_t kMinChannelPayload = 4;
constexpr size_t kMaxChannelPayload = 65536;

// Reads the stamp at the end of an open file (read access, synchronous, any position). True and the payload
// when the trailer is complete and valid; false otherwise, with the payload empty.
[[nodiscard]] bool readStampTrailer(HANDLE file, std::string& payload);

// The payload of the running executable's stamp, or else the default payload (resource 102).
// Returns an empty text on success, otherwise the error text of loadRcData.
std::wstring readChannelStamp(std::string& payload);

// Bytes of the RT_RCDATA resource with that id in the running executable. Returns an empty text
// on success, otherwise "资源不存在", "资源加载失败" or "资源内容为空" (bytes then empty).
std::wstring loadRcData(int id, std::string& bytes);
