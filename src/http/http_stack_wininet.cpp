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

// A request that follows redirects itself: WinInet's own following has no
// end, so a server that redirects to itself would hold the request forever.
class WinInetRequest : public HttpRequest {
 public:
  WinInetRequest(HINTERNET session, HINTERNET handle, std::string url, std::string verb,
                 std::uint32_t flags, DWORD silenceMs)
      : session_(session),
        handle_(handle),
        url_(std::move(url)),
        verb_(std::move(verb)),
        flags_(flags),
        silenceMs_(silenceMs) {
    LimitSilence();
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
        failure_ = Failed(GetLastError(), start, RequestFailure::kUnreachable);
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
    handle_.Reset(HttpOpenRequestA(connection_.get(), verb_.c_str(),
                                   path.empty() ? "/" : path.c_str(), "HTTP/1.1", nullptr, nullptr,
                                   flags, 0));
    if (handle_.get() == nullptr) return false;
    url_ = target;
    LimitSilence();
    return true;
  }

  HINTERNET session_;
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
  WinInetConnection(HINTERNET session, HINTERNET handle, std::string host, int port,
                    DWORD silenceMs)
      : session_(session),
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
    return std::make_unique<WinInetRequest>(session_, request, std::move(url), verbText, flags,
                                            silenceMs_);
  }

 private:
  HINTERNET session_;
  InternetHandle handle_;
  std::string host_;
  int port_;
  DWORD silenceMs_;
};

class WinInetSession : public HttpSession {
 public:
  WinInetSession(HINTERNET handle, DWORD silenceMs) : handle_(handle), silenceMs_(silenceMs) {}

  std::unique_ptr<HttpConnection> Connect(std::string_view host, int port) override {
    if (port < 0 || port > 65535) return nullptr;
    const std::string hostText(host);
    HINTERNET connection =
        InternetConnectA(handle_.get(), hostText.c_str(), static_cast<INTERNET_PORT>(port), nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) return nullptr;
    return std::make_unique<WinInetConnection>(handle_.get(), connection, hostText, port,
                                               silenceMs_);
  }

 private:
  InternetHandle handle_;
  DWORD silenceMs_;
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
  return std::make_unique<WinInetSession>(session, silenceMs_);
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
