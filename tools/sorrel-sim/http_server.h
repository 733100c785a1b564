// A small HTTP/1.1 server on a loopback socket, one thread per connection.
// It keeps every request's bytes as received (header lines in their order),
// and writes responses byte by byte under its own control, so that it can
// misbehave on purpose (see faults.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "faults.h"

namespace sorrel::sim {

struct Request {
  std::string method;
  std::string target;                    // as in the request line
  std::string version;                   // "HTTP/1.1"
  std::string path;                      // target up to "?"
  std::string query;                     // after "?", without it
  std::vector<std::string> headerLines;  // in the order received, without CR LF
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // chunked bodies decoded
  std::string raw;   // the request's bytes exactly as received
  std::string peer;  // "127.0.0.1:port"

  // First header of that name (ASCII case ignored), or nullptr.
  const std::string* Header(std::string_view name) const;
};

struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // When set, the body is `fileSize` bytes of this file from `fileOffset`,
  // read as they are sent.
  std::string filePath;
  std::uint64_t fileOffset = 0;
  std::uint64_t fileSize = 0;
  // The writer applies silent, delay, big-headers, cookie-flood, trickle,
  // endless, close-mid-body, close-after and stall-after.
  Faults faults;
  bool close = false;

  void Add(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
  }
};

const char* ReasonPhrase(int status);

class HttpServer {
 public:
  using Handler = std::function<Response(const Request&)>;

  explicit HttpServer(Handler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds 127.0.0.1:port (0 picks a free port). False with a message on failure.
  bool Listen(std::uint16_t port, std::string& error);
  std::uint16_t Port() const { return port_; }
  // Starts accepting on a thread of its own.
  void Start();
  // Stops accepting, breaks every open connection and waits for its thread.
  void Stop();
  // Waits `ms` milliseconds; false at once when the server is stopping.
  bool Pause(int ms);

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(Connection& connection);
  bool WriteResponse(int fd, const Request& request, Response& response, bool keepAlive);
  void ReapFinished();

  Handler handler_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace sorrel::sim
