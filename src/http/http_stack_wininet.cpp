#include "http/http_stack_wininet.h"

#include <windows.h>
#include <wininet.h>

#include <climits>
#include <cstring>
#include <string>

#include "http/cookie_domain.h"

namespace sorrel {

namespace {

DWORD SizeOf(std::size_t size) { return size > ULONG_MAX ? ULONG_MAX : static_cast<DWORD>(size); }

// One WinInet handle, closed when its holder goes.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

class WinInetRequest : public HttpRequest {
 public:
  explicit WinInetRequest(HINTERNET handle) : handle_(handle) {}

  bool Send(std::string_view headerBlock, std::string_view body) override {
    const std::string headers(headerBlock);
    // WinInet takes the optional data as a writable pointer but only reads it.
    std::string data(body);
    return HttpSendRequestA(handle_.get(), headers.empty() ? nullptr : headers.c_str(),
                            SizeOf(headers.size()), data.empty() ? nullptr : data.data(),
                            SizeOf(data.size())) != FALSE;
  }

  // WinInet's time-outs bound each step, not the exchange: a server that
  // trickles its answer holds a request for as long as it likes.
  void LimitTime(std::uint32_t) override {}

  std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
    DWORD count = 0;
    if (!InternetReadFile(handle_.get(), buffer, SizeOf(size), &count)) return 0;
    return count;
  }

  bool QueryRawHeaders(char* buffer, std::uint32_t& length) override {
    DWORD size = length;
    if (HttpQueryInfoA(handle_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &size, nullptr)) {
      length = size;
      return true;
    }
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > length) length = size;
    return false;
  }

 private:
  InternetHandle handle_;
};

class WinInetConnection : public HttpConnection {
 public:
  explicit WinInetConnection(HINTERNET handle) : handle_(handle) {}

  std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb, std::string_view path,
                                           std::string_view version, std::uint32_t flags) override {
    const std::string verbText(verb);
    const std::string pathText(path);
    const std::string versionText(version);
    HINTERNET request = HttpOpenRequestA(handle_.get(), verbText.c_str(), pathText.c_str(),
                                         versionText.c_str(), nullptr, nullptr, flags, 0);
    if (request == nullptr) return nullptr;
    return std::make_unique<WinInetRequest>(request);
  }

 private:
  InternetHandle handle_;
};

class WinInetSession : public HttpSession {
 public:
  explicit WinInetSession(HINTERNET handle) : handle_(handle) {}

  std::unique_ptr<HttpConnection> Connect(std::string_view host, int port) override {
    if (port < 0 || port > 65535) return nullptr;
    const std::string hostText(host);
    HINTERNET connection =
        InternetConnectA(handle_.get(), hostText.c_str(), static_cast<INTERNET_PORT>(port), nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) return nullptr;
    return std::make_unique<WinInetConnection>(connection);
  }

 private:
  InternetHandle handle_;
};

}  // namespace

std::unique_ptr<HttpSession> WinInetHttpStack::Open(std::string_view agent, std::string_view proxy,
                                                    EventPump*) {
  const std::string agentText(agent);
  HINTERNET session = nullptr;
  if (proxy.empty()) {
    session = InternetOpenA(agentText.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  } else {
    // The proxy serves plain HTTP only.
    const std::string proxyList = "http=" + std::string(proxy);
    session = InternetOpenA(agentText.c_str(), INTERNET_OPEN_TYPE_PROXY, proxyList.c_str(), "", 0);
  }
  if (session == nullptr) return nullptr;
  return std::make_unique<WinInetSession>(session);
}

bool WinInetHttpStack::SetCookie(std::string_view url, std::string_view name,
                                 std::string_view data) {
  // WinInet lets an address name its last numbers as the Domain, which other
  // addresses end in too: an address sets cookies for itself only.
  std::string_view host = url.substr(url.find("://") == url.npos ? 0 : url.find("://") + 3);
  host = host.substr(0, host.find_first_of("/:"));
  const std::string_view domain = CookieDomainAttribute(data);
  if (IsIpAddress(host) && !domain.empty() && !EqualsIgnoreCase(domain, host)) return false;
  const std::string urlText(url);
  const std::string nameText(name);
  const std::string dataText(data);
  return InternetSetCookieA(urlText.c_str(), nameText.c_str(), dataText.c_str()) != FALSE;
}

std::string WinInetHttpStack::CookieLine(std::string_view url) {
  const std::string urlText(url);
  DWORD length = 0;
  if (!InternetGetCookieA(urlText.c_str(), nullptr, nullptr, &length) || length == 0) return {};
  std::string line(length, '\0');
  if (!InternetGetCookieA(urlText.c_str(), nullptr, line.data(), &length)) return {};
  line.resize(std::strlen(line.c_str()));
  return line;
}

}  // namespace sorrel
