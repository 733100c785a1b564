// The test-mode request log: one JSON object per request, one per line.
#pragma once

#include <cstdint>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>

#include "http_server.h"

namespace sorrel::sim {

// {"seq":N,"peer":"127.0.0.1:P","request_line":"...","headers":["Name: value",...],
//  "body":"...","raw_base64":"..."}; header lines in the order received, raw_base64
// holding the request's exact bytes.
std::string FormatLogEntry(const Request& request, std::uint64_t seq);

class RequestLog {
 public:
  // Also appends every entry to this file (created or truncated).
  bool OpenFile(const std::string& path, std::string& error);
  void Record(const Request& request);
  // The kept entries, each ending in a line feed.
  std::string Text() const;
  void Clear();

 private:
  static constexpr size_t kKept = 10000;
  mutable std::mutex mutex_;
  std::ofstream file_;
  std::deque<std::string> lines_;
  std::uint64_t seq_ = 0;
};

}  // namespace sorrel::sim
