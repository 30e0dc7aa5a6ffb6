#include "support/test_servers.h"

#include "support/cert_trust.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/text.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <sstream>
#include <stdexcept>

#ifndef ORVALO_TEST_SERVERS_DIR
#error "ORVALO_TEST_SERVERS_DIR names the servers' state folder (host path)"
#endif

namespace testing_support {
namespace {

// Wine maps the host's root to drive Z:.
std::wstring stateFolder() {
  std::wstring path = L"Z:" + util::toWide(CP_UTF8, ORVALO_TEST_SERVERS_DIR);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

const std::map<std::string, std::string>& ports() {
  static const std::map<std::string, std::string> values = [] {
    std::map<std::string, std::string> read;
    std::istringstream lines(readFileBytes(serverStatePath(L"servers.env")));
    for (std::string line; std::getline(lines, line);) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos) read[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (read.empty()) {
      throw std::runtime_error("test servers are not running (CTest fixture test_servers)");
    }
    return read;
  }();
  return values;
}

std::wstring port(const char* key) { return util::toWide(CP_UTF8, ports().at(key)); }

std::vector<LoggedRequest> parseLog(const std::string& text, const std::string& prefix) {
  std::vector<LoggedRequest> requests;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    LoggedRequest request;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    request.method = line.substr(0, tab1);
    request.target = line.substr(tab1 + 1, tab2 - tab1 - 1);
    request.range = line.substr(tab2 + 1);
    if (request.target.compare(0, prefix.size(), prefix) == 0) requests.push_back(request);
  }
  return requests;
}

}  // namespace

std::wstring serverStatePath(const std::wstring& relative) {
  return stateFolder() + L"\\" + relative;
}

ServerScenario::ServerScenario() {
  static std::atomic<unsigned> counter{0};
  name_ = L"s" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(counter++) + L"_" +
          std::to_wstring(GetTickCount64());
  ports();  // fail early, with a clear message, when the fixture did not run
  util::createDirectories(serverStatePath(L"www\\" + name_));
}

ServerScenario::~ServerScenario() {
  util::deleteDirRecursive(serverStatePath(L"www\\" + name_));
  util::deleteFileForce(serverStatePath(L"rules\\" + name_ + L".json"));
}

std::wstring ServerScenario::putFile(const std::wstring& file, const std::string& bytes) const {
  const std::wstring path = serverStatePath(L"www\\" + name_ + L"\\" + file);
  util::createDirectories(path.substr(0, path.find_last_of(L"\\/")));
  if (!util::writeFile(path, bytes.data(), bytes.size())) {
    throw std::runtime_error("cannot write a file of the test servers");
  }
  return path;
}

void ServerScenario::setFaultRules(const std::string& json) const {
  const std::wstring path = serverStatePath(L"rules\\" + name_ + L".json");
  if (!util::writeFile(path, json.data(), json.size())) {
    throw std::runtime_error("cannot write fault rules");
  }
}

std::wstring ServerScenario::nginxUrl(const std::wstring& file) const {
  return L"http://127.0.0.1:" + port("http_port") + L"/" + name_ + L"/" + file;
}
std::wstring ServerScenario::faultUrl(const std::wstring& file) const {
  return L"http://127.0.0.1:" + port("fault_port") + L"/" + name_ + L"/" + file;
}
std::wstring ServerScenario::tlsUrl(const std::wstring& file) const {
  return L"https://localhost:" + port("tls_port") + L"/" + name_ + L"/" + file;
}
std::wstring ServerScenario::untrustedTlsUrl(const std::wstring& file) const {
  return L"https://localhost:" + port("untrusted_tls_port") + L"/" + name_ + L"/" + file;
}

std::wstring ServerScenario::vendorUrl(const std::wstring& file) const {
  return L"https://localhost/" + name_ + L"/" + file;
}

std::vector<LoggedRequest> ServerScenario::faultRequests() const {
  return parseLog(readFileBytes(serverStatePath(L"logs\\" + name_ + L".log")), "/");
}

std::vector<LoggedRequest> ServerScenario::nginxRequests() const {
  return parseLog(readFileBytes(serverStatePath(L"logs\\nginx-access.log")),
                  "/" + util::toUtf8(name_) + "/");
}

std::vector<LoggedRequest> ServerScenario::vendorRequests() const {
  return parseLog(readFileBytes(serverStatePath(L"logs\\vendor-access.log")),
                  "/" + util::toUtf8(name_) + "/");
}

bool trustTestAuthority() { return trustCertificateAuthority(readFileBytes(serverStatePath(L"tls\\ca.der"))); }

std::wstring fullDiskDestination() { return serverStatePath(L"full\\disk.zip"); }

std::string patternBytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace testing_support
