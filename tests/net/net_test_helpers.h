// Helpers shared by the download tests: a connection to a URL, recorded progress calls, a port
// nobody listens on, and the files a download leaves beside its destination.
#pragma once

#include "net/download.h"
#include "net/http_connection.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace net_tests {

struct ProgressLog {
  std::mutex lock;
  std::vector<std::pair<uint64_t, uint64_t>> calls;

  ByteProgress recorder() {
    return [this](uint64_t done, uint64_t total) {
      std::lock_guard<std::mutex> guard(lock);
      calls.emplace_back(done, total);
      return true;
    };
  }
};

inline bool startsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
inline bool endsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// An opened connection for url; the test fails when it cannot be opened.
inline void connect(HttpConnection& connection, const std::wstring& url) {
  ASSERT_TRUE(openHttpConnection(connection, url)) << "cannot open a connection";
}

// A loopback address that refuses connections: a port just released by a socket of our own.
std::wstring refusedUrl(const std::wstring& path);

// Names of the files in the folder, sorted.
std::vector<std::wstring> filesIn(const std::wstring& folder);

// Writes bytes to a file in the test's folder.
void writeBytes(const std::wstring& path, const std::string& bytes);

// The validator the server gives the resource today (one range probe).
std::wstring validatorOf(const std::wstring& url);

// A partial file as an earlier call leaves it: the bytes and, beside them, the validator.
void writePartial(const std::wstring& path, const std::string& bytes, const std::wstring& validator);

}  // namespace net_tests
