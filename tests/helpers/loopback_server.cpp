#include "test_helpers/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace sorrel::test {

namespace {

class SocketConnection : public LoopbackServer::Connection {
 public:
  SocketConnection(int fd, SSL* ssl, const std::atomic<bool>& stopping)
      : fd_(fd), ssl_(ssl), stopping_(stopping) {}

  int ReadSome(char* buffer, int size) {
    return ssl_ != nullptr ? SSL_read(ssl_, buffer, size)
                           : static_cast<int>(::recv(fd_, buffer, size, 0));
  }

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const int n = ssl_ != nullptr
                        ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()))
                        : static_cast<int>(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  void HoldOpen() override {
    while (!stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

 private:
  int fd_;
  SSL* ssl_;
  const std::atomic<bool>& stopping_;
};

std::size_t ContentLength(const std::string& head) {
  std::string lower;
  for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\ncontent-length:");
  return at == lower.npos ? 0 : std::strtoul(head.c_str() + at + 17, nullptr, 10);
}

}  // namespace

TestCertificate MakeTestCertificate() {
  TestCertificate cert;
  char pattern[] = "/tmp/sorrel-tls-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return cert;
  const std::string dir = pattern;
  cert.certFile = dir + "/cert.pem";
  cert.keyFile = dir + "/key.pem";
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
      cert.keyFile + " -out " + cert.certFile + " >/dev/null 2>&1";
  cert.ok = std::system(command.c_str()) == 0 && std::filesystem::exists(cert.certFile);
  return cert;
}

LoopbackServer::LoopbackServer(Handler handler, const TestCertificate* tls)
    : handler_(std::move(handler)) {
  if (tls != nullptr) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(context, tls->certFile.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(context, tls->keyFile.c_str(), SSL_FILETYPE_PEM);
    sslContext_ = context;
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listenFd_, 64);
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  Stop();
  if (sslContext_ != nullptr) SSL_CTX_free(static_cast<SSL_CTX*>(sslContext_));
}

void LoopbackServer::Stop() {
  if (stopping_.exchange(true)) return;
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  ::close(listenFd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(connections_);
  }
  for (std::thread& t : threads) t.join();
  std::lock_guard lock(mutex_);
  for (int fd : openFds_) ::close(fd);
  openFds_.clear();
}

std::string LoopbackServer::authority() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

LoopbackServer::Handler LoopbackServer::Answer(std::string response) {
  return [response](const std::string&, Connection& connection) { connection.Write(response); };
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    const int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) return;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    openFds_.push_back(fd);
    connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

void LoopbackServer::Serve(int fd) {
  SSL* ssl = nullptr;
  if (sslContext_ != nullptr) {
    ssl = SSL_new(static_cast<SSL_CTX*>(sslContext_));
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) <= 0) {
      SSL_free(ssl);
      ssl = nullptr;
      return;
    }
  }
  SocketConnection connection(fd, ssl, stopping_);
  std::string pending;
  char buffer[16384];
  while (!stopping_) {
    const std::size_t headEnd = pending.find("\r\n\r\n");
    if (headEnd != pending.npos) {
      const std::size_t total = headEnd + 4 + ContentLength(pending.substr(0, headEnd + 2));
      if (pending.size() >= total) {
        const std::string request = pending.substr(0, total);
        pending.erase(0, total);
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(request);
        }
        handler_(request, connection);
        continue;
      }
    }
    const int n = connection.ReadSome(buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
  }
  if (ssl != nullptr) {
    SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  ::shutdown(fd, SHUT_RDWR);
}

std::string HttpResponse(std::string_view body, std::string_view extraHeaders,
                         std::string_view status) {
  std::string response = "HTTP/1.1 " + std::string(status) + "\r\n";
  response += extraHeaders;
  response += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  response += body;
  return response;
}

}  // namespace sorrel::test
