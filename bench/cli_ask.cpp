// The captcha program of the command line's figure: asks the demo service's
// test endpoint for the code over a plain socket and prints it, so that the
// program's own start costs next to nothing (it maps no C++ library).
// Usage: bench_cli_ask PICTURE (the port comes from SIM_PORT)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
  const char* port = std::getenv("SIM_PORT");
  if (!port) return 1;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  const char request[] = "GET /__test/captcha HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (write(fd, request, sizeof request - 1) < 0) return 1;
  static char response[64 * 1024];
  size_t size = 0;
  for (ssize_t n; size + 1 < sizeof response &&
                  (n = read(fd, response + size, sizeof response - 1 - size)) > 0;) {
    size += static_cast<size_t>(n);
  }
  close(fd);
  const char* body = std::strstr(response, "\r\n\r\n");
  if (body == nullptr) return 1;
  std::printf("%s\n", body + 4);
  return 0;
}
