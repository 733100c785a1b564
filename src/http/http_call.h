// One HTTP exchange, bounded in time, with the status, the raw header block
// and at most a given number of body bytes. The download hand-off and the
// link check both need answers the page request operations do not give: the
// status, a body read only in part, and a time-out they can tell apart from
// a refused connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_stack.h"

namespace sorrel {

class HttpStack;
class ThreadSystem;

struct HttpCall {
  std::string verb = "GET";
  std::string address;  // "http://..." or "https://..."
  std::string agent;
  std::string proxy;    // as the requests' `proxy`; empty: direct
  std::string headers;  // extra lines, each ending in CR LF
  std::string body;
  bool storedCookies = false;  // let the stack add (and keep) its cookies
  bool followRedirects = false;
  std::size_t maxBody = std::size_t{1} << 20;  // the rest is never read
  bool bodyOfPagesOnly = false;                // read nothing unless the answer is an HTML page
  std::uint32_t timeoutMs = 10000;
};

enum class HttpCallFailure { kNone, kBadAddress, kUnreachable, kTimedOut };

struct HttpCallResult {
  HttpCallFailure failure = HttpCallFailure::kNone;
  int status = 0;
  std::string headers;  // the final response's raw block
  std::string body;
  // Why the proxy gave no answer; kNone when it did or there was none.
  RequestFailure proxyFailure = RequestFailure::kNone;
};

// Runs on the calling thread when the stack limits the exchange's time
// itself, else on a worker; the stack must outlive a worker abandoned after
// its time-out.
HttpCallResult PerformHttpCall(HttpStack& stack, ThreadSystem& threads, HttpCall call);

// The value of the first header line called `name` (ASCII case ignored),
// trimmed; empty when there is none.
std::string HeaderValue(std::string_view block, std::string_view name);

}  // namespace sorrel
