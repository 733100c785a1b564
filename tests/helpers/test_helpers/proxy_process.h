// Runs tests/helpers/test_proxy.py (an HTTP or SOCKS5 proxy on loopback) as
// a child process for a test, with a log of the requests it carried. POSIX
// only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace sorrel::test {

class ProxyProcess {
 public:
  // `args` as test_proxy.py takes them ("--socks", "--refuse", "--user",
  // ...); the log goes to a fresh temporary file.
  explicit ProxyProcess(std::vector<std::string> args = {});
  ~ProxyProcess();
  ProxyProcess(const ProxyProcess&) = delete;
  ProxyProcess& operator=(const ProxyProcess&) = delete;

  bool ok() const { return port_ != 0; }
  int port() const { return port_; }
  // "127.0.0.1:port".
  std::string authority() const { return "127.0.0.1:" + std::to_string(port_); }
  // The lines logged so far.
  std::vector<std::string> Log() const;

 private:
  std::unique_ptr<ChildProcess> child_;
  std::string log_;
  int port_ = 0;
};

}  // namespace sorrel::test
