#include "http/http_stack_wininet.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "text/ascii.h"

#include "http/cookie_domain.h"
#include "http/proxy.h"

namespace sorrel {

namespace {

// As many as the libcurl stack follows.
constexpr int kMaxRedirects = 20;
// More than this of a redirect's body is not read; its connection is not
// reused then.
constexpr DWORD kMaxDrainBytes = 64 * 1024;
// A blocked send or read that failed this close to the silence limit ran
// into it: WinInet reports some such failures as connection errors.
constexpr DWORD kSilenceSlackMs = 500;

DWORD SizeOf(std::size_t size) { return size > ULONG_MAX ? ULONG_MAX : static_cast<DWORD>(size); }

// One WinInet handle, closed when its holder goes.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~InternetHandle() { Reset(nullptr); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }
  void Reset(HINTERNET handle) {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HINTERNET handle_;
};

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The names of the lines of `block` a redirect that turns into a GET leaves
// behind, with the body they describe.
std::string WithoutBodyLines(std::string_view block) {
  std::string kept;
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find('\n', start);
    end = end == block.npos ? block.size() : end + 1;
    const std::string_view line = block.substr(start, end - start);
    const std::string_view name = TrimAscii(line.substr(0, line.find(':')));
    if (line.find(':') == line.npos ||
        (!EqualsIgnoreCase(name, "Content-Type") && !EqualsIgnoreCase(name, "Content-Length"))) {
      kept += line;
    }
    start = end;
  }
  return kept;
}

// The road a session's requests take, as WinInet is told it.
struct WinInetRoad {
  DWORD access = INTERNET_OPEN_TYPE_DIRECT;
  std::string list;  // the proxy list of INTERNET_OPEN_TYPE_PROXY
  std::string user;
  std::string password;
  // Through a proxy the user named: every connection is the proxy's.
  bool named = false;
  bool usable = true;
};

// Wine's WinInet takes a "socks=" list and then connects directly; there a
// SOCKS4 proxy is refused rather than silently passed by.
bool HonoursSocks() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

WinInetRoad RoadOf(std::string_view proxy) {
  WinInetRoad road;
  if (proxy.empty()) return road;
  if (proxy == kSystemProxyText) {
    road.access = INTERNET_OPEN_TYPE_PRECONFIG;
    return road;
  }
  road.access = INTERNET_OPEN_TYPE_PROXY;
  const std::optional<ProxySetting> setting = ParseProxyUrl(proxy);
  if (!setting) {
    // The old "host:port": a proxy for plain HTTP only.
    road.list = "http=" + std::string(proxy);
    return road;
  }
  road.named = true;
  const std::string authority = setting->host + ":" + std::to_string(setting->port);
  switch (setting->kind) {
    case ProxyKind::kHttp:
      // One proxy for every scheme: HTTPS goes through it with CONNECT.
      road.list = authority;
      road.user = setting->user;
      road.password = setting->password;
      break;
    case ProxyKind::kSocks4:
      road.list = "socks=" + authority;
      road.usable = HonoursSocks();
      break;
    default:
      // WinInet speaks no SOCKS5: the requests fail rather than go direct.
      road.usable = false;
      break;
  }
  return road;
}

// Hands a proxy's user and password to a connection or request handle.
void GiveCredentials(HINTERNET handle, const WinInetRoad& road) {
  if (road.user.empty()) return;
  InternetSetOptionA(handle, INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>(road.user.c_str()),
                     SizeOf(road.user.size()));
  InternetSetOptionA(handle, INTERNET_OPTION_PROXY_PASSWORD,
                     const_cast<char*>(road.password.c_str()), SizeOf(road.password.size()));
}

// A request on a road WinInet cannot take: it fails before anything goes out.
class RefusedRequest : public HttpRequest {
 public:
  bool Send(std::string_view, std::string_view) override { return false; }
  std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
  bool QueryRawHeaders(char*, std::uint32_t&) override { return false; }
  void LimitTime(std::uint32_t) override {}
  void Cancel() override {}
  RequestFailure Failure() const override { return RequestFailure::kProxyUnsupported; }
};

class RefusedConnection : public HttpConnection {
 public:
  std::unique_ptr<HttpRequest> OpenRequest(std::string_view, std::string_view, std::string_view,
                                           std::uint32_t) override {
    return std::make_unique<RefusedRequest>();
  }
};

class RefusedSession : public HttpSession {
 public:
  std::unique_ptr<HttpConnection> Connect(std::string_view, int) override {
    return std::make_unique<RefusedConnection>();
  }
};

// A request that follows redirects itself: WinInet's own following has no
// end, so a server that redirects to itself would hold the request forever.
class WinInetRequest : public HttpRequest {
 public:
  WinInetRequest(HINTERNET session, const WinInetRoad& road, HINTERNET handle, std::string url,
                 std::string verb, std::uint32_t flags, DWORD silenceMs)
      : session_(session),
        road_(road),
        handle_(handle),
        url_(std::move(url)),
        verb_(std::move(verb)),
        flags_(flags),
        silenceMs_(silenceMs) {
    LimitSilence();
    GiveCredentials(handle_.get(), road_);
  }

  bool Send(std::string_view headerBlock, std::string_view body) override {
    std::string headers(headerBlock);
    // WinInet takes the optional data as a writable pointer but only reads it.
    std::string data(body);
    for (;;) {
      const DWORD start = GetTickCount();
      if (!HttpSendRequestA(handle_.get(), headers.empty() ? nullptr : headers.c_str(),
                            SizeOf(headers.size()), data.empty() ? nullptr : data.data(),
                            SizeOf(data.size()))) {
        failure_ = SendFailed(GetLastError(), start);
        return false;
      }
      // A proxy answers 407 in the server's place: no answer of the server.
      if (Status() == 407 && road_.access != INTERNET_OPEN_TYPE_DIRECT) {
        failure_ = RequestFailure::kProxyNeedsPassword;
        return false;
      }
      if ((flags_ & kFlagNoAutoRedirect) != 0) return true;
      const std::string target = RedirectTarget();
      if (target.empty()) return true;
      if (redirects_ >= kMaxRedirects) {
        failure_ = RequestFailure::kRedirectLoop;
        return true;
      }
      ++redirects_;
      // RFC 9110 15.4: 303 turns the request into a GET, and so do 301 and
      // 302 for a POST, as browsers do; the body and its headers stay behind.
      const DWORD status = Status();
      DrainBody();
      if (status == 303 || ((status == 301 || status == 302) && verb_ == "POST")) {
        verb_ = "GET";
        data.clear();
        headers = WithoutBodyLines(headers);
      }
      if (!Open(target)) {
        failure_ = RequestFailure::kUnreachable;
        return false;
      }
    }
  }

  void LimitTime(std::uint32_t milliseconds) override {
    deadline_ = GetTickCount() + milliseconds;
    limited_ = true;
  }

  void Cancel() override {
    cancelled_ = true;
    failure_ = RequestFailure::kReplaced;
  }

  RequestFailure Failure() const override { return failure_; }

  std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
    if (cancelled_) return 0;
    if (limited_ && static_cast<LONG>(GetTickCount() - deadline_) >= 0) {
      failure_ = RequestFailure::kTimedOut;
      return 0;
    }
    DWORD count = 0;
    const DWORD start = GetTickCount();
    if (!InternetReadFile(handle_.get(), buffer, SizeOf(size), &count)) {
      failure_ = Failed(GetLastError(), start, RequestFailure::kCut);
      return 0;
    }
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
  // Bounds each blocked step, the answer's first byte included.
  void LimitSilence() {
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      InternetSetOptionA(handle_.get(), option, &silenceMs_, sizeof silenceMs_);
    }
  }

  // Through a proxy the user named, WinInet connects to the proxy only: a
  // connection that fails is the proxy's.
  RequestFailure SendFailed(DWORD error, DWORD start) const {
    const RequestFailure failure = Failed(error, start, RequestFailure::kUnreachable);
    if (!road_.named || failure != RequestFailure::kUnreachable) return failure;
    switch (error) {
      case ERROR_INTERNET_CANNOT_CONNECT:
      case ERROR_INTERNET_NAME_NOT_RESOLVED:
      case ERROR_INTERNET_PROXY_SERVER_UNREACHABLE:
        return RequestFailure::kProxyUnreachable;
      case ERROR_INTERNET_INVALID_PROXY_REQUEST:
        return RequestFailure::kProxyRefused;
      default:
        return failure;
    }
  }

  RequestFailure Failed(DWORD error, DWORD start, RequestFailure otherwise) const {
    if (error == ERROR_INTERNET_TIMEOUT || error == WSAETIMEDOUT ||
        GetTickCount() - start + kSilenceSlackMs >= silenceMs_) {
      return RequestFailure::kTimedOut;
    }
    return otherwise;
  }

  DWORD Status() const {
    DWORD status = 0;
    DWORD size = sizeof status;
    HttpQueryInfoA(handle_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                   nullptr);
    return status;
  }

  // The absolute address the answer redirects to, "" when it does not or
  // names no http or https address.
  std::string RedirectTarget() const {
    if (!IsRedirect(Status())) return "";
    std::vector<char> location(2048);
    DWORD size = SizeOf(location.size());
    if (!HttpQueryInfoA(handle_.get(), HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) {
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return "";
      location.resize(size + 1);
      size = SizeOf(location.size());
      if (!HttpQueryInfoA(handle_.get(), HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) {
        return "";
      }
    }
    const std::string relative(TrimAscii(std::string_view(location.data(), size)));
    if (relative.empty()) return "";
    DWORD length = 0;
    InternetCombineUrlA(url_.c_str(), relative.c_str(), nullptr, &length, ICU_NO_ENCODE);
    std::vector<char> combined(length + 1);
    length = SizeOf(combined.size());
    if (!InternetCombineUrlA(url_.c_str(), relative.c_str(), combined.data(), &length,
                             ICU_NO_ENCODE)) {
      return "";
    }
    const std::string target(combined.data(), length);
    if (target.rfind("http://", 0) != 0 && target.rfind("https://", 0) != 0) return "";
    return target;
  }

  // Reads the redirect's own body to its end, so that WinInet can hand its
  // connection to the next request without the rest of this answer in it.
  void DrainBody() {
    char buffer[4096];
    DWORD count = 0;
    for (DWORD total = 0; total < kMaxDrainBytes; total += count) {
      if (!InternetReadFile(handle_.get(), buffer, sizeof buffer, &count) || count == 0) return;
    }
  }

  // A connection and a request of their own for `target`, in place of the
  // current ones.
  bool Open(const std::string& target) {
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlA(target.c_str(), SizeOf(target.size()), 0, &parts)) return false;
    const std::string path = std::string(parts.lpszUrlPath, parts.dwUrlPathLength) +
                             std::string(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const std::uint32_t flags =
        (secure ? (flags_ | kFlagSecure) : (flags_ & ~kFlagSecure)) | kFlagNoAutoRedirect;
    handle_.Reset(nullptr);
    connection_.Reset(InternetConnectA(session_, host, parts.nPort, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0));
    if (connection_.get() == nullptr) return false;
    GiveCredentials(connection_.get(), road_);
    handle_.Reset(HttpOpenRequestA(connection_.get(), verb_.c_str(),
                                   path.empty() ? "/" : path.c_str(), "HTTP/1.1", nullptr, nullptr,
                                   flags, 0));
    if (handle_.get() == nullptr) return false;
    url_ = target;
    LimitSilence();
    GiveCredentials(handle_.get(), road_);
    return true;
  }

  HINTERNET session_;
  const WinInetRoad& road_;
  // Declared before the request, so that the request is closed first.
  InternetHandle connection_;
  InternetHandle handle_;
  std::string url_;
  std::string verb_;
  std::uint32_t flags_;
  DWORD silenceMs_;
  int redirects_ = 0;
  bool limited_ = false;
  DWORD deadline_ = 0;
  std::atomic<bool> cancelled_{false};
  RequestFailure failure_ = RequestFailure::kNone;
};

class WinInetConnection : public HttpConnection {
 public:
  WinInetConnection(HINTERNET session, const WinInetRoad& road, HINTERNET handle, std::string host,
                    int port, DWORD silenceMs)
      : session_(session),
        road_(road),
        handle_(handle),
        host_(std::move(host)),
        port_(port),
        silenceMs_(silenceMs) {}

  std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb, std::string_view path,
                                           std::string_view version, std::uint32_t flags) override {
    const std::string verbText(verb);
    const std::string pathText(path);
    const std::string versionText(version);
    // Redirects are followed by the request itself.
    HINTERNET request =
        HttpOpenRequestA(handle_.get(), verbText.c_str(), pathText.c_str(), versionText.c_str(),
                         nullptr, nullptr, flags | kFlagNoAutoRedirect, 0);
    if (request == nullptr) return nullptr;
    const bool secure = (flags & kFlagSecure) != 0;
    std::string url = secure ? "https://" : "http://";
    url += host_;
    if (port_ != 0) {
      url += ':';
      url += std::to_string(port_);
    }
    if (pathText.empty() || pathText.front() != '/') url += '/';
    url += pathText;
    return std::make_unique<WinInetRequest>(session_, road_, request, std::move(url), verbText,
                                            flags, silenceMs_);
  }

 private:
  HINTERNET session_;
  const WinInetRoad& road_;
  InternetHandle handle_;
  std::string host_;
  int port_;
  DWORD silenceMs_;
};

class WinInetSession : public HttpSession {
 public:
  WinInetSession(HINTERNET handle, WinInetRoad road, DWORD silenceMs)
      : handle_(handle), road_(std::move(road)), silenceMs_(silenceMs) {}

  std::unique_ptr<HttpConnection> Connect(std::string_view host, int port) override {
    if (port < 0 || port > 65535) return nullptr;
    const std::string hostText(host);
    HINTERNET connection =
        InternetConnectA(handle_.get(), hostText.c_str(), static_cast<INTERNET_PORT>(port), nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) return nullptr;
    GiveCredentials(connection, road_);
    return std::make_unique<WinInetConnection>(handle_.get(), road_, connection, hostText, port,
                                               silenceMs_);
  }

 private:
  InternetHandle handle_;
  // Its connections and requests close before it: they may refer to it.
  WinInetRoad road_;
  DWORD silenceMs_;
};

}  // namespace

std::unique_ptr<HttpSession> WinInetHttpStack::Open(std::string_view agent, std::string_view proxy,
                                                    EventPump*) {
  const std::string agentText(agent);
  WinInetRoad road = RoadOf(proxy);
  if (!road.usable) return std::make_unique<RefusedSession>();
  // An empty bypass list: loopback and local names go through the proxy too.
  HINTERNET session =
      InternetOpenA(agentText.c_str(), road.access,
                    road.access == INTERNET_OPEN_TYPE_PROXY ? road.list.c_str() : nullptr,
                    road.access == INTERNET_OPEN_TYPE_PROXY ? "" : nullptr, 0);
  if (session == nullptr) return nullptr;
  return std::make_unique<WinInetSession>(session, std::move(road), silenceMs_);
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
