#include "http/http_call.h"

#include <algorithm>
#include <memory>

#include "http/bounded_run.h"
#include "http/http_stack.h"
#include "http/proxy.h"
#include "http/request_steps.h"
#include "http/url.h"
#include "http/worker_thread.h"
#include "text/ascii.h"

namespace sorrel {

namespace {

int StatusOf(std::string_view block) {
  const std::size_t space = block.find(' ');
  int status = 0;
  for (std::size_t i = space + 1; space != block.npos && i < block.size() && i < space + 4; ++i) {
    if (block[i] < '0' || block[i] > '9') return 0;
    status = status * 10 + (block[i] - '0');
  }
  return status;
}

// The call's exchange from opening to the last read. The stack keeps the
// answer's cookies itself when the call lets it, each under the host of the
// answer that set it, redirects included.
HttpCallResult Exchange(HttpStack& stack, const HttpCall& call, StoppingPump* pump) {
  HttpCallResult result;
  result.failure = HttpCallFailure::kUnreachable;
  auto session = stack.Open(call.agent, call.proxy, pump);
  if (!session) return result;
  auto connection = session->Connect(UrlHost(call.address), UrlPort(call.address));
  if (!connection) return result;
  std::uint32_t flags = kFlagReload;
  if (!call.storedCookies) flags |= kFlagNoCookies;
  if (!call.followRedirects) flags |= kFlagNoAutoRedirect;
  flags |= UrlIsSecure(call.address) ? kFlagSecure : kFlagIgnoreRedirectToHttps;
  auto request = connection->OpenRequest(call.verb, UrlPath(call.address), "HTTP/1.1", flags);
  if (!request) return result;
  request->LimitTime(call.timeoutMs);

  std::string headers = call.headers;
  if (!call.body.empty()) headers += "Content-Length: " + std::to_string(call.body.size()) + "\r\n";
  if (!request->Send(headers, call.body)) {
    if (IsProxyFailure(request->Failure())) result.proxyFailure = request->Failure();
    return result;
  }
  const Text block = QueryHeaderText(*request);
  if (block.rfind("HTTP/", 0) != 0) return result;
  result.failure = HttpCallFailure::kNone;
  result.headers = block;
  result.status = StatusOf(block);
  const bool page = HeaderValue(block, "Content-Type").find("html") != std::string::npos;
  std::uint8_t buffer[4096];
  while (result.body.size() < call.maxBody && (page || !call.bodyOfPagesOnly)) {
    const std::size_t want = std::min(sizeof buffer, call.maxBody - result.body.size());
    const std::size_t got = request->Read(buffer, want);
    if (got == 0) break;
    result.body.append(reinterpret_cast<const char*>(buffer), got);
  }
  return result;
}

}  // namespace

HttpCallResult PerformHttpCall(HttpStack& stack, ThreadSystem& threads, HttpCall call) {
  if (const Text scheme = UrlScheme(call.address); scheme != "http" && scheme != "https") {
    return {HttpCallFailure::kBadAddress, 0, {}, {}, RequestFailure::kNone};
  }
  // Shared with a worker, so that an abandoned one still owns its call and
  // its answer.
  auto shared =
      std::make_shared<std::pair<HttpCall, HttpCallResult>>(std::move(call), HttpCallResult{});
  const RunEnd end = RunBounded(stack, threads, NoEventPump(), shared->first.timeoutMs, nullptr,
                                [&stack, shared](StoppingPump* pump) {
                                  shared->second = Exchange(stack, shared->first, pump);
                                });
  // An answer cut short by the limit is a time-out, as it is when the worker
  // is abandoned.
  if (end != RunEnd::kFinished)
    return {HttpCallFailure::kTimedOut, 0, {}, {}, RequestFailure::kNone};
  return std::move(shared->second);
}

std::string HeaderValue(std::string_view block, std::string_view name) {
  std::size_t start = block.find('\n');
  while (start != block.npos && start + 1 < block.size()) {
    ++start;
    const std::size_t end = block.find('\n', start);
    const std::string_view line = block.substr(start, end == block.npos ? block.npos : end - start);
    const std::size_t colon = line.find(':');
    if (colon != line.npos && EqualsIgnoreCase(TrimAscii(line.substr(0, colon)), name)) {
      return std::string(TrimAscii(line.substr(colon + 1)));
    }
    start = end;
  }
  return {};
}

}  // namespace sorrel
