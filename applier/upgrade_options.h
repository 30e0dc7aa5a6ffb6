// What an upgrade run is asked to do, as the entry hands it over from the command line: a plan
// file, or one package, and the client to wait for and start again.
#pragma once

#include <string>

namespace applier {

struct UpgradeOptions {
  std::wstring plan;     // the plan file; empty: the single package below
  std::wstring url;
  std::wstring sha256;
  std::wstring src;
  std::wstring pid;      // the running client
  std::wstring version;
  std::wstring exe;      // the installed client
  std::wstring kind;
  std::wstring dest;
  std::wstring clean;
  bool launch = true;    // start the client again at the end
};

}  // namespace applier
