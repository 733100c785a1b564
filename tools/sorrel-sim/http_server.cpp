#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>

#include "text_util.h"

namespace sorrel::sim {
namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxBody = 16 * 1024 * 1024;
constexpr size_t kFileChunk = 64 * 1024;
constexpr int kEndlessPauseMs = 50;
constexpr int kIdleSeconds = 120;

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Appends what the socket has to `buffer`; false at end of stream or error.
bool ReceiveMore(int fd, std::string& buffer) {
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

std::string HttpDate() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

// Request line and header lines of `head` (CR LF separated, without the
// blank line). Status 0 on success.
int ParseHead(std::string_view head, Request& request) {
  size_t lineEnd = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, lineEnd);
  const size_t sp1 = requestLine.find(' ');
  const size_t sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || requestLine.find(' ', sp2 + 1) != std::string_view::npos) {
    return 400;
  }
  request.method = std::string(requestLine.substr(0, sp1));
  request.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
  request.version = std::string(requestLine.substr(sp2 + 1));
  if (request.method.empty() || request.target.empty() ||
      request.version.rfind("HTTP/1.", 0) != 0) {
    return 400;
  }
  const size_t q = request.target.find('?');
  request.path = request.target.substr(0, q);
  request.query = q == std::string::npos ? std::string() : request.target.substr(q + 1);

  while (lineEnd != std::string_view::npos) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string_view line = head.substr(start, lineEnd - start);
    if (line.empty()) continue;
    request.headerLines.emplace_back(line);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return 400;
    request.headers.emplace_back(std::string(line.substr(0, colon)),
                                 TrimSpaces(line.substr(colon + 1)));
  }
  return 0;
}

// Reads a chunked body (RFC 9112 section 7.1) from `buffer` and the socket.
// `rawEnd` receives how many bytes of `buffer` it used. Status 0 on success.
int ReadChunked(int fd, std::string& buffer, size_t from, std::string& body, size_t& rawEnd) {
  size_t at = from;
  for (;;) {
    size_t lineEnd;
    while ((lineEnd = buffer.find("\r\n", at)) == std::string::npos) {
      if (buffer.size() - at > 1024 || !ReceiveMore(fd, buffer)) return 400;
    }
    const std::string sizeText = buffer.substr(at, lineEnd - at);
    size_t digits = 0;
    std::uint64_t size = 0;
    for (; digits < sizeText.size(); ++digits) {
      const char c = sizeText[digits];
      const int v = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
      if (v < 0) break;  // chunk extensions follow
      size = size * 16 + static_cast<std::uint64_t>(v);
      if (size > kMaxBody) return 413;
    }
    if (digits == 0) return 400;
    at = lineEnd + 2;
    if (size == 0) {
      // Trailer fields, then the blank line.
      for (;;) {
        while ((lineEnd = buffer.find("\r\n", at)) == std::string::npos) {
          if (!ReceiveMore(fd, buffer)) return 400;
        }
        const bool blank = lineEnd == at;
        at = lineEnd + 2;
        if (blank) {
          rawEnd = at;
          return 0;
        }
      }
    }
    if (body.size() + size > kMaxBody) return 413;
    while (buffer.size() < at + size + 2) {
      if (!ReceiveMore(fd, buffer)) return 400;
    }
    body.append(buffer, at, size);
    at += size + 2;
  }
}

}  // namespace

const std::string* Request::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (EqualsIgnoreCase(n, name)) return &v;
  }
  return nullptr;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    default:
      return "Unknown";
  }
}

HttpServer::HttpServer(Handler handler) : handler_(std::move(handler)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Listen(std::uint16_t port, std::string& error) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error = std::string("cannot create a socket: ") + std::strerror(errno);
    return false;
  }
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
}

void HttpServer::Start() {
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void HttpServer::Stop() {
  {
    // Set under the lock, so that a connection about to wait in Pause sees it.
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
  if (acceptThread_.joinable()) acceptThread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_) ::shutdown(c->fd, SHUT_RDWR);
    connections.swap(connections_);
  }
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
    ::close(c->fd);
  }
}

bool HttpServer::Pause(int ms) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void HttpServer::ReapFinished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        finished.splice(finished.end(), connections_, it++);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    c->thread.join();
    ::close(c->fd);
  }
}

void HttpServer::AcceptLoop() {
  while (!stopping_) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (stopping_) break;
      Pause(10);  // out of descriptors and the like: try again shortly
      continue;
    }
    ReapFinished();
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    // An idle keep-alive connection gives up its thread after a while.
    const timeval idle{kIdleSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection& ref = *connection;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      break;
    }
    connections_.push_back(std::move(connection));
    ref.thread = std::thread([this, &ref] {
      try {
        Serve(ref);
      } catch (...) {
        // A handler that throws (out of memory) costs its connection only.
      }
      // The peer sees the end now; the descriptor is closed when the thread is reaped.
      ::shutdown(ref.fd, SHUT_RDWR);
      ref.done = true;
    });
  }
}

void HttpServer::Serve(Connection& connection) {
  const int fd = connection.fd;
  sockaddr_in peer{};
  socklen_t peerLen = sizeof peer;
  ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen);
  char ip[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
  const std::string peerText = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));

  std::string buffer;
  while (!stopping_) {
    // RFC 9112 section 2.2: empty lines before a request line are ignored.
    size_t headEnd;
    for (;;) {
      while (buffer.rfind("\r\n", 0) == 0) buffer.erase(0, 2);
      headEnd = buffer.find("\r\n\r\n");
      if (headEnd != std::string::npos) break;
      if (buffer.size() > kMaxHead) {
        Response r;
        r.status = 431;
        r.body = "request header block too large\n";
        r.Add("Content-Type", "text/plain");
        Request none;
        WriteResponse(fd, none, r, false);
        return;
      }
      if (!ReceiveMore(fd, buffer)) return;
    }

    Request request;
    request.peer = peerText;
    const std::string_view head(buffer.data(), headEnd);
    int status = ParseHead(head, request);
    size_t used = headEnd + 4;
    if (status == 0) {
      const std::string* te = request.Header("Transfer-Encoding");
      const std::string* cl = request.Header("Content-Length");
      if (te && !EqualsIgnoreCase(*te, "identity")) {
        if (!EqualsIgnoreCase(*te, "chunked")) {
          status = 501;
        } else {
          if (const std::string* expect = request.Header("Expect");
              expect && EqualsIgnoreCase(*expect, "100-continue")) {
            SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
          }
          status = ReadChunked(fd, buffer, used, request.body, used);
        }
      } else if (cl) {
        std::uint64_t length = 0;
        if (!ParseUint(*cl, length)) {
          status = 400;
        } else if (length > kMaxBody) {
          status = 413;
        } else {
          if (const std::string* expect = request.Header("Expect");
              expect && EqualsIgnoreCase(*expect, "100-continue") &&
              buffer.size() < used + length) {
            SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
          }
          while (buffer.size() < used + length) {
            if (!ReceiveMore(fd, buffer)) return;
          }
          request.body = buffer.substr(used, length);
          used += length;
        }
      }
    }
    if (status != 0) {
      Response r;
      r.status = status;
      r.body = std::string(ReasonPhrase(status)) + "\n";
      r.Add("Content-Type", "text/plain");
      WriteResponse(fd, request, r, false);
      return;
    }
    request.raw = buffer.substr(0, used);
    buffer.erase(0, used);

    bool keepAlive = request.version == "HTTP/1.1";
    if (const std::string* c = request.Header("Connection")) {
      if (EqualsIgnoreCase(*c, "close")) keepAlive = false;
      if (EqualsIgnoreCase(*c, "keep-alive")) keepAlive = true;
    }
    Response response = handler_(request);
    if (!WriteResponse(fd, request, response, keepAlive)) return;
  }
}

bool HttpServer::WriteResponse(int fd, const Request& request, Response& response, bool keepAlive) {
  const Faults& f = response.faults;
  if (f.silent) {
    // Holds the connection without a byte until the client gives up.
    char probe;
    while (Pause(kEndlessPauseMs)) {
      if (::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0) break;
    }
    return false;
  }
  if (f.delayMs && !Pause(*f.delayMs)) return false;
  if (f.endless || f.closeMidBody || f.closeAfter || f.stallAfter || response.close) {
    keepAlive = false;
  }

  const bool fromFile = !response.filePath.empty();
  const std::uint64_t bodySize = fromFile ? response.fileSize : response.body.size();

  std::string head =
      "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
  head += "Server: sorrel-sim\r\nDate: " + HttpDate() + "\r\n";
  bool padded = false;
  auto pad = [&] {
    for (int i = 0; i < f.bigHeaders.value_or(0); ++i) {
      head +=
          "Set-Cookie: sim_pad" + std::to_string(i) + "=" + std::string(42, 'p') + "; path=/\r\n";
    }
    for (int i = 0; i < f.cookieFlood.value_or(0); ++i) {
      head += "Set-Cookie: sim_flood" + std::to_string(i) + "=f; Max-Age=86400; path=/\r\n";
    }
    padded = true;
  };
  for (const auto& [name, value] : response.headers) {
    // Padding goes before the first cookie line, so the real cookies come last.
    if (!padded && EqualsIgnoreCase(name, "Set-Cookie")) pad();
    head += name + ": " + value + "\r\n";
  }
  if (!padded) pad();
  if (!f.endless) head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
  head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  head += "\r\n";
  if (!SendAll(fd, head)) return false;
  if (request.method == "HEAD") return keepAlive;

  std::ifstream file;
  if (fromFile) {
    file.open(response.filePath, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(response.fileOffset));
    if (!file) return false;
  }
  // Hands out the body in pieces of at most `n` bytes; empty at its end.
  std::uint64_t sent = 0;
  auto next = [&](size_t n) {
    const size_t take = static_cast<size_t>(std::min<std::uint64_t>(n, bodySize - sent));
    std::string piece;
    if (fromFile) {
      piece.resize(take);
      file.read(piece.data(), static_cast<std::streamsize>(take));
      piece.resize(static_cast<size_t>(file.gcount()));
    } else {
      piece = response.body.substr(static_cast<size_t>(sent), take);
    }
    sent += piece.size();
    return piece;
  };

  std::uint64_t limit = f.closeMidBody ? bodySize / 2 : bodySize;
  for (const std::optional<int>& cut : {f.closeAfter, f.stallAfter}) {
    if (cut) limit = std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(*cut));
  }
  const size_t pieceSize = f.trickleMs ? kTricklePiece : kFileChunk;
  while (sent < limit) {
    std::string piece = next(static_cast<size_t>(std::min<std::uint64_t>(pieceSize, limit - sent)));
    if (piece.empty() || !SendAll(fd, piece)) return false;
    if (f.trickleMs && sent < limit && !Pause(*f.trickleMs)) return false;
  }
  if (f.stallAfter && limit < bodySize) {
    // Silent until the client gives up and closes its end.
    char peek = 0;
    while (Pause(kEndlessPauseMs) && ::recv(fd, &peek, 1, MSG_PEEK | MSG_DONTWAIT) < 0 &&
           (errno == EAGAIN || errno == EWOULDBLOCK)) {
    }
    return false;
  }
  if (f.closeMidBody || limit < bodySize) {
    ::shutdown(fd, SHUT_RDWR);
    return false;
  }
  if (f.endless) {
    std::string filler;
    while (filler.size() < 1024) filler += "<!-- sorrel-sim: this body does not end -->\n";
    while (SendAll(fd, filler)) {
      if (!Pause(kEndlessPauseMs)) break;
    }
    return false;
  }
  return keepAlive;
}

}  // namespace sorrel::sim
