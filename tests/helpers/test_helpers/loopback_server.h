// A tiny HTTP/1.1 server on 127.0.0.1 for exact-byte tests: it captures each
// raw request and lets the test write whatever answer it likes, optionally
// over TLS with a certificate made at test time.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sorrel::test {

// A self-signed certificate for 127.0.0.1 in a fresh temporary folder.
struct TestCertificate {
  std::string certFile;
  std::string keyFile;
  bool ok = false;
};
TestCertificate MakeTestCertificate();

class LoopbackServer {
 public:
  class Connection {
   public:
    virtual ~Connection() = default;
    virtual bool Write(std::string_view bytes) = 0;
    // Blocks until the server stops.
    virtual void HoldOpen() = 0;
  };
  // Called once per request with its raw bytes (head and body).
  using Handler = std::function<void(const std::string& request, Connection& connection)>;

  explicit LoopbackServer(Handler handler, const TestCertificate* tls = nullptr);
  ~LoopbackServer();

  int port() const { return port_; }
  // "127.0.0.1:port"
  std::string authority() const;
  std::vector<std::string> requests() const;
  void Stop();

  // A handler that answers every request with `response`.
  static Handler Answer(std::string response);

 private:
  void AcceptLoop();
  void Serve(int fd);

  Handler handler_;
  void* sslContext_ = nullptr;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::vector<int> openFds_;
  std::vector<std::string> requests_;
};

// "HTTP/1.1 200 OK" with the given extra header lines (each ending in CR LF),
// a Content-Length and the body.
std::string HttpResponse(std::string_view body, std::string_view extraHeaders = "",
                         std::string_view status = "200 OK");

}  // namespace sorrel::test
