// The two request operations: WebAccess on the calling thread, and
// TimedWebAccess on a worker thread with a time-out. Both go through an
// HttpStack (one implementation per platform) and feed the process-wide
// cookie store with every "Set-Cookie: " line they receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "http/bounded_run.h"
#include "http/http_stack.h"
#include "support/event_pump.h"
#include "text/text.h"

namespace sorrel {

class ThreadSystem;
class WindowSystem;

// The page request's bounds: a file page is a few hundred kilobytes and
// comes within seconds, so a page that takes longer or grows larger is a
// server that misbehaves. The address goes out twice, in the request line
// and the Referer line; twice 16 KiB leaves room under the 64 KiB that
// servers commonly take for a header block, and both stacks send it whole.
inline constexpr std::uint32_t kPageLimitMs = 120000;
inline constexpr std::size_t kMaxPageBytes = std::size_t{8} << 20;
inline constexpr std::size_t kMaxAddressBytes = std::size_t{16} << 10;
// The timed request's body cap.
inline constexpr std::size_t kMaxTimedBodyBytes = std::size_t{64} << 20;

// The agent WebAccess sends; whatever fetches a resolved address for the
// user presents itself the same way.
inline constexpr std::string_view kPageUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Optional parameters of WebAccess. An omitted text behaves as empty text;
// `headers` and `responseHeaders` are the caller's variables when given.
struct WebAccessArgs {
  std::optional<int> method;  // 0 GET, 1 POST; anything else is refused with a notice
  Text proxy;                 // "host:port" for HTTP, or a form of http/proxy.h
  Text* headers = nullptr;    // in/out: extra lines, each ending in CR LF
  Text postData;
  Text cookies;
  int conversion = 0;                 // 1 UTF-8 -> 936, 2 Big5 -> simplified 936
  Text* responseHeaders = nullptr;    // out: raw response header block
  RequestFailure* failure = nullptr;  // out, not written when null
  std::optional<std::uint32_t>
      limitMs;    // the whole exchange's; the client's page limit when absent
  StopFlag stop;  // set by a later request that replaces this one
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
  StopFlag stop;                      // set by a later request that replaces this one
};

class WebClient {
 public:
  // The stack must outlive every timed request's worker, also an abandoned
  // one. The first form starts workers with PlatformThreads(). The window
  // system is here for one notice only: a request with an unknown access
  // method says so itself, in a box over the caller's window, and returns
  // nothing. The request operation's signature has no place for a failure
  // text, and the notice must look the same from every caller, so the owner
  // of the box comes with the client rather than with each call.
  WebClient(HttpStack& stack, EventPump& pump, WindowSystem& windows);
  WebClient(HttpStack& stack, EventPump& pump, WindowSystem& windows, ThreadSystem& threads);

  // `url` is the caller's variable and receives the normalised address. An
  // address longer than kMaxAddressBytes is refused before anything goes out.
  ByteSet WebAccess(Text& url, const WebAccessArgs& args = {});
  // A plain GET; the body as text (up to its first zero byte).
  Text GetPageText(Text& url, RequestFailure* failure = nullptr, const StopFlag& stop = nullptr,
                   const Text& proxy = Text());
  // The body, the code page 936 bytes of the time-out text, or empty bytes.
  ByteSet TimedWebAccess(Text& url, const TimedWebAccessArgs& args = {});

  // The limit of page requests that set none (kPageLimitMs); tests shorten it.
  void SetPageLimit(std::uint32_t milliseconds) { pageLimitMs_ = milliseconds; }

 private:
  HttpStack& stack_;
  EventPump& pump_;
  WindowSystem& windows_;
  ThreadSystem& threads_;
  std::uint32_t pageLimitMs_ = kPageLimitMs;
};

}  // namespace sorrel
