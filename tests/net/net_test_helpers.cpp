#include "net_test_helpers.h"

#include "net/resume.h"
#include "util/files.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <stdexcept>

namespace net_tests {

std::wstring refusedUrl(const std::wstring& path) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(s);
  return L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + path;
}

std::vector<std::wstring> filesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  util::forEachEntry(folder, [&](const std::wstring&, const WIN32_FIND_DATAW& data) {
    names.push_back(data.cFileName);
    return true;
  });
  std::sort(names.begin(), names.end());
  return names;
}

void writeBytes(const std::wstring& path, const std::string& bytes) {
  if (!util::writeFile(path, bytes.data(), bytes.size())) {
    throw std::runtime_error("cannot write a test file");
  }
}

std::wstring validatorOf(const std::wstring& url) {
  HttpConnection connection;
  uint64_t total = 0;
  std::wstring validator;
  if (!openHttpConnection(connection, url) || !probeRangeSupport(connection, total, &validator)) {
    throw std::runtime_error("cannot probe the test server");
  }
  return validator;
}

void writePartial(const std::wstring& path, const std::string& bytes, const std::wstring& validator) {
  writeBytes(path, bytes);
  storeValidator(path, validator);
}

}  // namespace net_tests
