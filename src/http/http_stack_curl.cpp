#include "http/http_stack_curl.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "http/proxy.h"
#include "text/ascii.h"

namespace sorrel {

namespace {

constexpr int kWaitSliceMs = 10;
constexpr int kMaxRedirects = 20;
constexpr long kLimitSlackMs = 100;

// The name of a header line, "" when it has no colon.
std::string_view HeaderName(std::string_view line) {
  const std::size_t colon = line.find(':');
  return colon == line.npos ? std::string_view() : TrimAscii(line.substr(0, colon));
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return EqualsIgnoreCase(HeaderName(line), name);
  });
}

// Bytes that may not stand in a request target as they are.
std::string EscapedPath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

struct SessionConfig {
  std::string agent;
  std::string proxy;
  EventPump* pump = nullptr;
  CurlStackOptions options;
};

class CurlRequest : public HttpRequest {
 public:
  CurlRequest(std::shared_ptr<const SessionConfig> session, std::string url, std::string verb,
              std::uint32_t flags)
      : session_(std::move(session)), url_(std::move(url)), verb_(std::move(verb)), flags_(flags) {}

  ~CurlRequest() override {
    StopTransfer();
    EndCookies();
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
  }

  bool Send(std::string_view headerBlock, std::string_view body) override {
    if (started_) return false;
    started_ = true;
    std::size_t start = 0;
    while (start < headerBlock.size()) {
      std::size_t end = headerBlock.find('\n', start);
      if (end == headerBlock.npos) end = headerBlock.size();
      std::string_view line = headerBlock.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (!HeaderName(line).empty()) lines_.emplace_back(line);
      start = end + 1;
    }
    body_.assign(body);
    // A request that carries its own Cookie line gets no second one.
    usesStore_ = (flags_ & kFlagNoCookies) == 0 && !HasHeader(lines_, "Cookie");
    if (usesStore_) exchange_ = ProcessCookieStore().BeginExchange();
    multi_ = curl_multi_init();
    if (multi_ == nullptr || !StartTransfer()) {
      done_ = failed_ = true;
      failure_ =
          limited_ && Remaining() == 0 ? RequestFailure::kTimedOut : RequestFailure::kUnreachable;
      return false;
    }
    DriveUntil([this] { return haveFinal_ && redirectTo_.empty(); });
    return !failed_ || haveFinal_;
  }

  std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
    if (!started_) return 0;
    DriveUntil([this] { return readPos_ < received_.size(); });
    const std::size_t count = std::min(size, received_.size() - readPos_);
    std::memcpy(buffer, received_.data() + readPos_, count);
    readPos_ += count;
    if (readPos_ == received_.size()) {
      received_.clear();
      readPos_ = 0;
    }
    return count;
  }

  void LimitTime(std::uint32_t milliseconds) override {
    deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds);
    limited_ = true;
  }

  void Cancel() override {
    if (done_) return;
    StopTransfer();
    done_ = failed_ = true;
    failure_ = RequestFailure::kReplaced;
  }

  RequestFailure Failure() const override { return failure_; }

  bool QueryRawHeaders(char* buffer, std::uint32_t& length) override {
    if (!started_) return false;
    DriveUntil([this] { return haveFinal_ && redirectTo_.empty(); });
    if (!haveFinal_) return false;
    const std::size_t needed = finalBlock_.size() + 1;
    if (length < needed) {
      length = static_cast<std::uint32_t>(needed);
      return false;
    }
    std::memcpy(buffer, finalBlock_.c_str(), needed);
    length = static_cast<std::uint32_t>(finalBlock_.size());
    return true;
  }

 private:
  using Clock = std::chrono::steady_clock;

  bool Secure() const { return url_.rfind("https://", 0) == 0; }

  // Milliseconds left before the deadline, at least 1; 0 once it has passed.
  long Remaining() const {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    return left > 0 ? static_cast<long>(left) : 0;
  }

  bool StartTransfer() {
    if (limited_ && Remaining() == 0) return false;
    easy_ = curl_easy_init();
    if (easy_ == nullptr) return false;
    const SessionConfig& s = *session_;
    curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy_, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1});
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    if (!s.agent.empty()) curl_easy_setopt(easy_, CURLOPT_USERAGENT, s.agent.c_str());
    // Every hop finds its own road: a redirect may lead to a host the
    // environment sends direct. libcurl's own reading of the environment
    // stays off ("" as the proxy), so that "system" is the only way to it.
    // HTTPS through an HTTP proxy is a CONNECT tunnel with the usual
    // certificate checks.
    route_ = RouteFor(s.proxy, url_, ProcessEnvironment());
    curl_easy_setopt(easy_, CURLOPT_PROXY, route_.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOPROXY, "");
    if (!route_.user.empty()) {
      curl_easy_setopt(easy_, CURLOPT_PROXYUSERNAME, route_.user.c_str());
      curl_easy_setopt(easy_, CURLOPT_PROXYPASSWORD, route_.password.c_str());
    }
    // The tunnel's own answer is no answer of the server.
    curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, s.options.connectTimeoutSeconds);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, s.options.stallSeconds);
    // The exchange ends at the deadline in DriveUntil, never before it, so
    // that a caller that reads the clock sees the limit passed; libcurl's own
    // limit, a little later, only backs that up.
    if (limited_) curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, Remaining() + kLimitSlackMs);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!s.options.caFile.empty())
      curl_easy_setopt(easy_, CURLOPT_CAINFO, s.options.caFile.c_str());
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    if (verb_ == "GET" && body_.empty()) {
      curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    } else {
      curl_easy_setopt(easy_, CURLOPT_POST, 1L);
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.data());
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
      if (verb_ != "POST") curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, verb_.c_str());
    }

    // The caller's lines in their order; curl's own extras switched off
    // ("Name:" removes a header, "Name;" sends one with an empty value).
    curl_slist_free_all(list_);
    list_ = nullptr;
    // Where libcurl's own cookie engine would put the line: before the
    // caller's lines.
    SplitHop();
    if (usesStore_) {
      const std::string cookies = ProcessCookieStore().CookieHeader(url_);
      if (!cookies.empty()) list_ = curl_slist_append(list_, ("Cookie: " + cookies).c_str());
    }
    for (const std::string& line : lines_) {
      const std::string_view value = TrimAscii(std::string_view(line).substr(line.find(':') + 1));
      const std::string entry = value.empty() ? std::string(HeaderName(line)) + ";" : line;
      list_ = curl_slist_append(list_, entry.c_str());
    }
    for (const char* name : {"Accept", "Expect", "Proxy-Connection", "Content-Type"}) {
      if (!HasHeader(lines_, name))
        list_ = curl_slist_append(list_, (std::string(name) + ":").c_str());
    }
    if (body_.empty() && !HasHeader(lines_, "Content-Length")) {
      list_ = curl_slist_append(list_, "Content-Length:");
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, list_);

    block_.clear();
    finalBlock_.clear();
    haveFinal_ = false;
    redirectTo_.clear();
    return curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  }

  void StopTransfer() {
    if (easy_ != nullptr) {
      curl_multi_remove_handle(multi_, easy_);
      curl_easy_cleanup(easy_);
      easy_ = nullptr;
    }
    curl_slist_free_all(list_);
    list_ = nullptr;
  }

  // The exchange is over: the store keeps within its limits, and lasting
  // cookies reach the file once, before the caller goes on.
  void EndCookies() {
    if (exchange_ == 0) return;
    ProcessCookieStore().EndExchange(exchange_);
    exchange_ = 0;
  }

  // The host and path of the address now asked for, which its answer's
  // cookies belong to.
  void SplitHop() {
    hopHost_.clear();
    hopPath_.clear();
    CURLU* url = curl_url();
    char* host = nullptr;
    char* path = nullptr;
    if (curl_url_set(url, CURLUPART_URL, url_.c_str(), 0) == CURLUE_OK) {
      if (curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK) hopHost_ = host;
      if (curl_url_get(url, CURLUPART_PATH, &path, 0) == CURLUE_OK) hopPath_ = path;
    }
    curl_free(host);
    curl_free(path);
    curl_url_cleanup(url);
  }

  template <typename Done>
  void DriveUntil(Done done) {
    while (!done_ && !done()) {
      int running = 0;
      curl_multi_perform(multi_, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE) Finished(message->data.result);
      }
      if (done_ || done()) break;
      int wait = kWaitSliceMs;
      if (limited_) {
        const long left = Remaining();
        if (left == 0) {
          StopTransfer();
          EndCookies();
          done_ = failed_ = true;
          failure_ = RequestFailure::kTimedOut;
          break;
        }
        wait = static_cast<int>(std::min<long>(wait, left));
      }
      curl_multi_poll(multi_, nullptr, 0, wait, nullptr);
      if (session_->pump != nullptr) session_->pump->ProcessPendingEvents();
    }
  }

  void Finished(CURLcode result) {
    if (easy_ != nullptr && !route_.Direct()) {
      long code = 0;
      if (curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &code) == CURLE_OK) {
        tunnelStatus_ = code;
      }
      long socks = 0;
      if (curl_easy_getinfo(easy_, CURLINFO_PROXY_ERROR, &socks) == CURLE_OK) socksError_ = socks;
    }
    if (result == CURLE_OK && !redirectTo_.empty()) {
      ++redirects_;
      url_ = redirectTo_;
      // RFC 9110 15.4: 303 turns the request into a GET, and so do 301 and 302
      // for a POST, as browsers do; the body and its headers stay behind.
      if ((status_ == 303 && verb_ != "HEAD") ||
          ((status_ == 301 || status_ == 302) && verb_ == "POST")) {
        verb_ = "GET";
        body_.clear();
        std::erase_if(lines_, [](const std::string& line) {
          return EqualsIgnoreCase(HeaderName(line), "Content-Type") ||
                 EqualsIgnoreCase(HeaderName(line), "Content-Length");
        });
      }
      StopTransfer();
      if (StartTransfer()) return;
      // A redirect that could not be followed is not the answer.
      haveFinal_ = false;
      result = CURLE_FAILED_INIT;
    }
    StopTransfer();
    EndCookies();
    done_ = true;
    failed_ = result != CURLE_OK;
    if (failed_) failure_ = FailureOf(result);
  }

  // The stall limit and the deadline end a transfer as timed out; once the
  // answer has begun, any other failure is a connection cut mid-answer.
  RequestFailure FailureOf(CURLcode result) const {
    if (proxyWantsPassword_) return RequestFailure::kProxyNeedsPassword;
    if (result == CURLE_OPERATION_TIMEDOUT) return RequestFailure::kTimedOut;
    if (!route_.Direct() && !haveFinal_) {
      if (tunnelStatus_ == 407) return RequestFailure::kProxyNeedsPassword;
      if (tunnelStatus_ != 0 && tunnelStatus_ / 100 != 2) return RequestFailure::kProxyRefused;
      if (result == CURLE_COULDNT_RESOLVE_PROXY || result == CURLE_COULDNT_CONNECT) {
        return RequestFailure::kProxyUnreachable;
      }
      if (result == CURLE_PROXY) {
        return socksError_ == CURLPX_USER_REJECTED || socksError_ == CURLPX_NO_AUTH
                   ? RequestFailure::kProxyNeedsPassword
                   : RequestFailure::kProxyRefused;
      }
    }
    return haveFinal_ ? RequestFailure::kCut : RequestFailure::kUnreachable;
  }

  // The target of a redirect that is to be followed, or "".
  std::string RedirectTarget() {
    if ((flags_ & kFlagNoAutoRedirect) != 0) return "";
    if (status_ != 301 && status_ != 302 && status_ != 303 && status_ != 307 && status_ != 308) {
      return "";
    }
    if (redirects_ >= kMaxRedirects) {
      failure_ = RequestFailure::kRedirectLoop;
      return "";
    }
    std::string location;
    std::size_t start = 0;
    while (start < finalBlock_.size()) {
      const std::size_t end = finalBlock_.find("\r\n", start);
      const std::string_view line = std::string_view(finalBlock_).substr(start, end - start);
      if (EqualsIgnoreCase(HeaderName(line), "Location")) {
        location = TrimAscii(line.substr(line.find(':') + 1));
      }
      start = end + 2;
    }
    if (location.empty()) return "";
    CURLU* url = curl_url();
    std::string target;
    char* full = nullptr;
    char* scheme = nullptr;
    if (curl_url_set(url, CURLUPART_URL, url_.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), CURLU_URLENCODE) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0) &&
        curl_url_get(url, CURLUPART_URL, &full, 0) == CURLUE_OK) {
      target = full;
    }
    curl_free(full);
    curl_free(scheme);
    curl_url_cleanup(url);
    return target;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto& r = *static_cast<CurlRequest*>(self);
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.rfind("HTTP/", 0) == 0) {
      r.block_.assign(line);
      r.block_ += "\r\n";
      r.status_ = 0;
      const std::size_t space = line.find(' ');
      for (std::size_t i = space + 1;
           space != line.npos && i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        r.status_ = r.status_ * 10 + (line[i] - '0');
      }
    } else if (!line.empty()) {
      if (r.usesStore_ && EqualsIgnoreCase(HeaderName(line), "Set-Cookie")) {
        ProcessCookieStore().SetFromHeader({r.hopHost_, r.hopPath_, r.exchange_},
                                           TrimAscii(line.substr(line.find(':') + 1)));
      }
      r.block_ += line;
      r.block_ += "\r\n";
    } else if (!r.block_.empty()) {
      r.block_ += "\r\n";
      // A proxy that carries plain HTTP itself answers 407 in the server's
      // place: no answer of the server, and the exchange ends here.
      if (r.status_ == 407 && !r.route_.Direct() && !r.Secure() &&
          r.route_.url.rfind("http://", 0) == 0) {
        r.proxyWantsPassword_ = true;
        return 0;
      }
      // Interim 1xx answers are not the response.
      if (r.status_ < 100 || r.status_ >= 200) {
        r.finalBlock_ = r.block_;
        r.haveFinal_ = true;
        r.redirectTo_ = r.RedirectTarget();
      }
      r.block_.clear();
    }
    return size * count;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& r = *static_cast<CurlRequest*>(self);
    if (r.redirectTo_.empty()) r.received_.append(data, size * count);
    return size * count;
  }

  std::shared_ptr<const SessionConfig> session_;
  std::string url_;
  std::string verb_;
  std::uint32_t flags_;
  std::vector<std::string> lines_;
  std::string body_;
  ProxyRoute route_;
  long tunnelStatus_ = 0;
  long socksError_ = 0;
  bool proxyWantsPassword_ = false;

  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* list_ = nullptr;
  bool started_ = false;
  bool limited_ = false;
  Clock::time_point deadline_;
  bool usesStore_ = false;
  std::uint64_t exchange_ = 0;
  std::string hopHost_;
  std::string hopPath_;
  bool done_ = false;
  bool failed_ = false;
  RequestFailure failure_ = RequestFailure::kNone;
  int redirects_ = 0;

  int status_ = 0;
  std::string block_;
  std::string finalBlock_;
  bool haveFinal_ = false;
  std::string redirectTo_;
  std::string received_;
  std::size_t readPos_ = 0;
};

class CurlConnection : public HttpConnection {
 public:
  CurlConnection(std::shared_ptr<const SessionConfig> session, std::string host, int port)
      : session_(std::move(session)), host_(std::move(host)), port_(port) {}

  std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb, std::string_view path,
                                           std::string_view version, std::uint32_t flags) override {
    if (verb.empty()) return nullptr;
    std::string url = (flags & kFlagSecure) != 0 ? "https://" : "http://";
    url += host_;
    if (port_ != 0) {
      url += ':';
      url += std::to_string(port_);
    }
    url += path.empty() || path.front() != '/' ? "/" : "";
    url += EscapedPath(path);
    return std::make_unique<CurlRequest>(session_, std::move(url), std::string(verb), flags);
  }

 private:
  std::shared_ptr<const SessionConfig> session_;
  std::string host_;
  int port_;
};

class CurlSession : public HttpSession {
 public:
  explicit CurlSession(std::shared_ptr<const SessionConfig> config) : config_(std::move(config)) {}

  std::unique_ptr<HttpConnection> Connect(std::string_view host, int port) override {
    if (host.empty() || port < 0 || port > 65535) return nullptr;
    if (host.find_first_of(" /?#@") != host.npos) return nullptr;
    return std::make_unique<CurlConnection>(config_, std::string(host), port);
  }

 private:
  std::shared_ptr<const SessionConfig> config_;
};

}  // namespace

// The cookie store, and with it libcurl's global set-up and its TLS library,
// is made by the first Open rather than here, so that the window opens
// without them. Its creation is thread-safe, and so is this libcurl's global
// set-up.
CurlHttpStack::CurlHttpStack(CurlStackOptions options) : options_(std::move(options)) {}

std::unique_ptr<HttpSession> CurlHttpStack::Open(std::string_view agent, std::string_view proxy,
                                                 EventPump* waitPump) {
  Store();
  auto config = std::make_shared<SessionConfig>();
  config->agent = agent;
  config->proxy = proxy;
  config->pump = waitPump;
  config->options = options_;
  return std::make_unique<CurlSession>(std::move(config));
}

bool CurlHttpStack::SetCookie(std::string_view url, std::string_view name, std::string_view data) {
  std::string_view host = url.substr(url.find("://") == url.npos ? 0 : url.find("://") + 3);
  host = host.substr(0, host.find_first_of("/:"));
  return Store().Set({host}, name, data);
}

CookieStore& CurlHttpStack::Store() {
  CookieStore& store = ProcessCookieStore();
  if (!options_.cookieFile.empty()) store.KeepLastingCookiesIn(options_.cookieFile, options_.quiet);
  return store;
}

std::string CurlHttpStack::CookieLine(std::string_view url) { return Store().CookieHeader(url); }

}  // namespace sorrel
