// The two request operations: WebAccess on the calling thread, and
// TimedWebAccess on a worker thread with a time-out. Both go through an
// HttpStack (one implementation per platform) and feed the process-wide
// cookie store with every "Set-Cookie: " line they receive.
#pragma once

#include <optional>
#include <string_view>

#include "text/events.h"
#include "text/text.h"

namespace sorrel {

class HttpStack;
class ThreadSystem;
class WindowSystem;

// Why a request gave no usable answer. The result stays what it always was
// (empty bytes, or the time-out text); this only names the cause.
enum class RequestFailure {
  kNone,
  kUnreachable,  // no session, connection or request, or the send failed
  kTimedOut,     // TimedWebAccess gave up waiting
  kTooLarge,     // the body outgrew the cap and was dropped
};

// The agent WebAccess sends; whatever fetches a resolved address for the
// user presents itself the same way.
inline constexpr std::string_view kPageUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Optional parameters of WebAccess. An omitted text behaves as empty text;
// `headers` and `responseHeaders` are the caller's variables when given.
struct WebAccessArgs {
  std::optional<int> method;  // 0 GET, 1 POST; anything else is refused with a notice
  Text proxy;                 // "host:port" for HTTP
  Text* headers = nullptr;    // in/out: extra lines, each ending in CR LF
  Text postData;
  Text cookies;
  int conversion = 0;                 // 1 UTF-8 -> 936, 2 Big5 -> simplified 936
  Text* responseHeaders = nullptr;    // out: raw response header block
  RequestFailure* failure = nullptr;  // out, not written when null
};

// Optional parameters of TimedWebAccess.
struct TimedWebAccessArgs {
  int method = 0;  // 1 POST, anything else GET
  Text proxy;
  Text headers;
  ByteSet postData;
  Text cookies;
  std::optional<int> timeoutSeconds;  // 60 when absent
  Text* responseHeaders = nullptr;    // out, not written when null
  int conversion = 0;
  Text* responseCookies = nullptr;  // out, not written when null
  std::optional<bool> allowRedirect;
  RequestFailure* failure = nullptr;  // out, not written when null
};

class WebClient {
 public:
  // The stack must outlive every timed request's worker, also an abandoned
  // one. The first form starts workers with PlatformThreads().
  WebClient(HttpStack& stack, EventPump& pump, WindowSystem& windows);
  WebClient(HttpStack& stack, EventPump& pump, WindowSystem& windows, ThreadSystem& threads);

  // `url` is the caller's variable and receives the normalised address.
  ByteSet WebAccess(Text& url, const WebAccessArgs& args = {});
  // A plain GET; the body as text (up to its first zero byte).
  Text GetPageText(Text& url, RequestFailure* failure = nullptr);
  // The body, the code page 936 bytes of the time-out text, or empty bytes.
  ByteSet TimedWebAccess(Text& url, const TimedWebAccessArgs& args = {});

 private:
  HttpStack& stack_;
  EventPump& pump_;
  WindowSystem& windows_;
  ThreadSystem& threads_;
};

}  // namespace sorrel
