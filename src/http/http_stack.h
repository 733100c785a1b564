// The platform HTTP stack as the request operations see it: a session with
// an agent and a proxy, a connection to host and port, a request with verb,
// path and flags, a send of a caller-built header block, chunked reads, the
// raw response header block, and a process-wide cookie store. Each object
// is closed by destroying it; callers close a request before its connection
// and a connection before its session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/event_pump.h"
#include "text/text.h"

namespace sorrel {

// Why an exchange gave no usable answer. The request operations keep their
// results as they always were (empty bytes, or the time-out text); this only
// names the cause.
enum class RequestFailure {
  kNone,
  kUnreachable,   // no session, connection or request, or the send failed
  kTimedOut,      // the time limit passed, or nothing arrived for the stack's silence limit
  kTooLarge,      // the body outgrew the cap and was dropped
  kCut,           // the connection ended before the answer did
  kRedirectLoop,  // redirects without end
  kBadAddress,    // an address the stacks cannot send; nothing went out
  kReplaced,      // a later request ended it
  // The proxy's, not the server's: the user's network setting is where to look.
  kProxyUnreachable,    // no connection to the proxy
  kProxyRefused,        // the proxy would not carry the request
  kProxyNeedsPassword,  // 407: the proxy wants a user and password, or other ones
  kProxyUnsupported,    // a kind of proxy this stack cannot use; nothing went out
};

// Request flags, with the values the Windows stack gives them.
enum HttpRequestFlag : std::uint32_t {
  kFlagNeedFile = 0x00000010u,
  kFlagIgnoreRedirectToHttps = 0x00004000u,
  kFlagNoCookies = 0x00080000u,  // neither add stored cookies nor store the response's
  kFlagNoAutoRedirect = 0x00200000u,
  kFlagSecure = 0x00800000u,  // TLS
  kFlagReload = 0x80000000u,  // never answer from a cache
};

// How long a request may go without receiving a byte, in both builds.
inline constexpr std::uint32_t kSilenceLimitMs = 60000;

class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Sends the request with `headerBlock` (lines ending in CR LF) as given and
  // `body`. False when the exchange failed; reads then yield nothing.
  virtual bool Send(std::string_view headerBlock, std::string_view body) = 0;
  // Up to `size` body bytes into `buffer`; 0 at the end of the body and on
  // failure.
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t size) = 0;
  // The final response's status line and header lines, CR LF separated and
  // closed by an empty line, copied with a terminating zero into `buffer` of
  // `length` bytes. On success `length` becomes the block's length without the
  // zero. When the buffer is too small, false with `length` set to the size
  // needed; when there is no response, false with `length` unchanged.
  virtual bool QueryRawHeaders(char* buffer, std::uint32_t& length) = 0;
  // Before Send: ends the whole exchange (connecting, sending, the headers
  // and every read) as a failure once `milliseconds` have passed. A stack
  // whose LimitsTime() is false checks it between reads only: a blocked call
  // still runs to the stack's silence limit.
  virtual void LimitTime(std::uint32_t milliseconds) = 0;
  // From the pump the request calls while it waits: ends the exchange at
  // once as a failure, so that a newer request can replace it.
  virtual void Cancel() = 0;
  // Why the exchange failed so far; kNone while it has not.
  virtual RequestFailure Failure() const = 0;
};

class HttpConnection {
 public:
  virtual ~HttpConnection() = default;
  // Null on failure. `flags` is a combination of HttpRequestFlag values.
  virtual std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb, std::string_view path,
                                                   std::string_view version,
                                                   std::uint32_t flags) = 0;
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // Port 0 is the default port of the request's scheme. Null on failure.
  virtual std::unique_ptr<HttpConnection> Connect(std::string_view host, int port) = 0;
};

class HttpStack {
 public:
  virtual ~HttpStack() = default;
  // `agent` goes out as the User-Agent header (none when empty). `proxy` is
  // "host:port" of a proxy for plain HTTP, empty for a direct connection; a
  // stack that can also takes the forms of http/proxy.h.
  // Every stack ends a request that receives nothing for its silence limit
  // (kSilenceLimitMs unless it was made with another) as kTimedOut.
  // While a request of this session waits on the network, the stack calls
  // `waitPump` between short waits; null on threads without a window.
  virtual std::unique_ptr<HttpSession> Open(std::string_view agent, std::string_view proxy,
                                            EventPump* waitPump) = 0;
  // Stores a cookie for `url` ("http://host"); `data` is the value followed
  // by the cookie's attributes, as in a "Set-Cookie: " line after the "=".
  virtual bool SetCookie(std::string_view url, std::string_view name, std::string_view data) = 0;
  // The "name=value; name=value" pairs the store would send with a request
  // to `url`; empty when it holds none. Another program that fetches the
  // address for us needs them as a header line.
  virtual std::string CookieLine(std::string_view url) = 0;
  // True when its requests keep a time limit set by LimitTime; otherwise the
  // caller has to bound an exchange itself (on a worker it can abandon).
  virtual bool LimitsTime() = 0;
};

}  // namespace sorrel
