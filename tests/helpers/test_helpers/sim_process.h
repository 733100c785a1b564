// Runs tools/sorrel-sim as a child process for a test: started on a free
// port, its base URL read from the first line of its standard output, and
// stopped when the object goes away. POSIX only.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace sorrel::test {

class SimProcess {
 public:
  // Starts the sim with "--port 0" (unless `args` names a port) followed by
  // `args`, and waits up to `startTimeout` for the base URL line.
  explicit SimProcess(std::vector<std::string> args = {},
                      std::chrono::milliseconds startTimeout = std::chrono::seconds(10));
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool ok() const { return error_.empty() && child_ != nullptr; }
  const std::string& error() const { return error_; }
  const std::string& baseUrl() const { return baseUrl_; }
  std::uint16_t port() const { return port_; }
  // -1 once it has been stopped.
  pid_t pid() const;
  // The base URL followed by `path` ("/file/83264445").
  std::string url(std::string_view path) const { return baseUrl_ + std::string(path); }

  // Sends `signal` and waits for the exit: its code (128 + signal when it
  // was killed by one), or -1 when it did not end within `timeout`.
  int Stop(int signal = SIGTERM, std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  std::unique_ptr<ChildProcess> child_;
  std::uint16_t port_ = 0;
  std::string baseUrl_;
  std::string error_;
};

struct SimRun {
  int exitCode = -1;  // -1 when it had to be killed after the timeout
  std::string out;
  std::string err;
};

// Runs the sim with exactly `args` until it ends (for --help and bad command lines).
SimRun RunSimToEnd(const std::vector<std::string>& args,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace sorrel::test
