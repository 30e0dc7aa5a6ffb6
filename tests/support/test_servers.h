// The loopback download servers of the CTest fixture "test_servers" (servers/servers.sh): nginx
// with real ranges and per-connection rate limits, the fault-injecting server, and HTTPS with a
// test certificate authority. A test takes a ServerScenario, its own folder of files and its own
// fault rules and request log, so tests can run in parallel against the same servers:
//
//   ServerScenario scenario;
//   scenario.putFile(L"pkg.zip", bytes);
//   scenario.setFaultRules(R"({"rules": [{"when": {"request": 2}, "drop_after": 1000}]})");
//   downloadFile(scenario.faultUrl(L"pkg.zip"), ...);
//   scenario.faultRequests();  // what was asked for, in order
//
// Test programs that use it are added with orvalo_add_test(... SERVERS).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct LoggedRequest {
  std::string method;
  std::string target;  // path and query
  std::string range;   // the Range header, "-" when there was none
};

class ServerScenario {
 public:
  ServerScenario();  // a name of its own, unique across processes
  ~ServerScenario();
  ServerScenario(const ServerScenario&) = delete;
  ServerScenario& operator=(const ServerScenario&) = delete;

  const std::wstring& name() const { return name_; }

  // Writes a file below the scenario's folder of the document root; returns its path.
  std::wstring putFile(const std::wstring& file, const std::string& bytes) const;
  // The fault server's rules for this scenario (JSON, see fault_server.py).
  void setFaultRules(const std::string& json) const;

  // Addresses of a file of this scenario; a query (e.g. "?rate=2m") may follow the file name.
  std::wstring nginxUrl(const std::wstring& file) const;
  std::wstring faultUrl(const std::wstring& file) const;
  std::wstring tlsUrl(const std::wstring& file) const;           // https://localhost, trusted CA
  std::wstring untrustedTlsUrl(const std::wstring& file) const;  // https, unknown CA
  // https://localhost/ without a port: the vendor's own site (fixture vendor_server, port 443).
  std::wstring vendorUrl(const std::wstring& file) const;

  // Requests for this scenario so far, in the order the server logged them. nginx logs a request
  // when it ends, the fault server when it arrives.
  std::vector<LoggedRequest> faultRequests() const;
  std::vector<LoggedRequest> nginxRequests() const;
  std::vector<LoggedRequest> vendorRequests() const;

 private:
  std::wstring name_;
};

// Makes the authority behind tlsUrl and vendorUrl (tls/ca.der) trusted in this Wine prefix.
bool trustTestAuthority();

// Windows path of a file of the servers' state folder (e.g. L"tls\\ca.der").
std::wstring serverStatePath(const std::wstring& relative);

// A destination whose partial file (".part") and parts data file (".parts") live on a disk that
// is always full: opening them works, every write fails. Writes never succeed, so nothing to
// clean up.
std::wstring fullDiskDestination();

// Deterministic pseudo-random bytes, so that a misplaced range shows in the content.
std::string patternBytes(size_t count, unsigned seed = 1);

}  // namespace testing_support
