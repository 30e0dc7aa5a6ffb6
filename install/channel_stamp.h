// The channel stamp: a payload (the content of channel.ini) carried by the setup executable's
// file, as a trailer or, in a copy stamped after it was signed, inside its signature (where and
// how: install/signed_stamp.h). A copy without a valid stamp uses the default payload it carries
// as a resource.
#pragma once

#include "install/signed_stamp.h"

#include <windows.h>

#include <cstddef>
#include <string>

// Reads the stamp of an open file (read access, synchronous, any position). True and the payload
// when a stamp is found whole and valid; false otherwise, with the payload empty.
[[nodiscard]] bool readFileStamp(HANDLE file, std::string& payload);

// The payload of the running executable's stamp, or else the default payload (resource 102).
// Returns an empty text on success, otherwise the error text of loadRcData.
std::wstring readChannelStamp(std::string& payload);

// Bytes of the RT_RCDATA resource with that id in the running executable. Returns an empty text
// on success, otherwise "资源不存在", "资源加载失败" or "资源内容为空" (bytes then empty).
std::wstring loadRcData(int id, std::string& bytes);
