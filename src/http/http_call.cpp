#include "download/http_call.h"

#include <memory>
#include <mutex>

#include "http/http_stack.h"
#include "http/request_steps.h"
#include "http/url.h"
#include "http/worker_thread.h"

namespace sorrel {

namespace {

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

int StatusOf(std::string_view block) {
  const std::size_t space = block.find(' ');
  int status = 0;
  for (std::size_t i = space + 1; space != block.npos && i < block.size() && i < space + 4; ++i) {
    if (block[i] < '0' || block[i] > '9') return 0;
    status = status * 10 + (block[i] - '0');
  }
  return status;
}

// Closed in the reverse order: the request, the connection, the session.
struct Opened {
  std::unique_ptr<HttpSession> session;
  std::unique_ptr<HttpConnection> connection;
  std::unique_ptr<HttpRequest> request;
};

Opened Open(HttpStack& stack, const HttpCall& call) {
  Opened opened;
  opened.session = stack.Open(call.agent, "", nullptr);
  if (opened.session) {
    opened.connection = opened.session->Connect(UrlHost(call.address), UrlPort(call.address));
  }
  std::uint32_t flags = kFlagReload;
  if (!call.storedCookies) flags |= kFlagNoCookies;
  if (!call.followRedirects) flags |= kFlagNoAutoRedirect;
  flags |= UrlIsSecure(call.address) ? kFlagSecure : kFlagIgnoreRedirectToHttps;
  if (opened.connection) {
    opened.request =
        opened.connection->OpenRequest(call.verb, UrlPath(call.address), "HTTP/1.1", flags);
  }
  return opened;
}

HttpCallResult Exchange(HttpStack& stack, HttpRequest& request, const HttpCall& call) {
  HttpCallResult result;
  std::string headers = call.headers;
  if (!call.body.empty()) headers += "Content-Length: " + std::to_string(call.body.size()) + "\r\n";
  if (!request.Send(headers, call.body)) {
    result.failure = HttpCallFailure::kUnreachable;
    return result;
  }
  const Text block = QueryHeaderText(request);
  if (block.rfind("HTTP/", 0) != 0) {
    result.failure = HttpCallFailure::kUnreachable;
    return result;
  }
  result.headers = block;
  result.status = StatusOf(block);
  const bool page = HeaderValue(block, "Content-Type").find("html") != std::string::npos;
  std::uint8_t buffer[4096];
  while (result.body.size() < call.maxBody && (page || !call.bodyOfPagesOnly)) {
    const std::size_t want = std::min(sizeof buffer, call.maxBody - result.body.size());
    const std::size_t got = request.Read(buffer, want);
    if (got == 0) break;
    result.body.append(reinterpret_cast<const char*>(buffer), got);
  }
  if (call.storedCookies) StoreResponseCookies(stack, block, UrlHost(call.address));
  return result;
}

struct Handed {
  Opened opened;
  std::mutex mutex;
  HttpCallResult result;
};

}  // namespace

HttpCallResult PerformHttpCall(HttpStack& stack, ThreadSystem& threads, HttpCall call) {
  const std::string_view address = call.address;
  if (const Text scheme = UrlScheme(address); scheme != "http" && scheme != "https") {
    return {HttpCallFailure::kBadAddress, 0, {}, {}};
  }
  const std::uint32_t timeoutMs = call.timeoutMs;
  const std::uint32_t start = threads.TickCount();
  Opened opened = Open(stack, call);
  if (!opened.request) return {HttpCallFailure::kUnreachable, 0, {}, {}};

  // A stack that bounds the exchange itself needs no worker, whose two
  // wake-ups cost about as much as a whole call on loopback. An answer cut
  // short by the limit is a time-out, as it is when the worker is abandoned.
  if (stack.LimitsTime()) {
    opened.request->LimitTime(timeoutMs);
    HttpCallResult result = Exchange(stack, *opened.request, call);
    if (threads.TickCount() - start >= timeoutMs) return {HttpCallFailure::kTimedOut, 0, {}, {}};
    return result;
  }

  // The worker shares the handles and its answer, so that an abandoned one
  // still owns them.
  auto handed = std::make_shared<Handed>();
  handed->opened = std::move(opened);
  auto worker = threads.Start([&stack, handed, call = std::move(call)] {
    HttpCallResult result = Exchange(stack, *handed->opened.request, call);
    std::lock_guard lock(handed->mutex);
    handed->result = std::move(result);
  });
  if (!worker) return {HttpCallFailure::kUnreachable, 0, {}, {}};
  for (;;) {
    const std::uint32_t spent = threads.TickCount() - start;
    if (spent >= timeoutMs) return {HttpCallFailure::kTimedOut, 0, {}, {}};
    const WaitResult waited = threads.Wait(worker.get(), timeoutMs - spent);
    if (waited == WaitResult::kFinished) break;
    if (waited == WaitResult::kFailed) return {HttpCallFailure::kUnreachable, 0, {}, {}};
  }
  std::lock_guard lock(handed->mutex);
  return std::move(handed->result);
}

std::string HeaderValue(std::string_view block, std::string_view name) {
  std::size_t start = block.find('\n');
  while (start != block.npos && start + 1 < block.size()) {
    ++start;
    const std::size_t end = block.find('\n', start);
    const std::string_view line = block.substr(start, end == block.npos ? block.npos : end - start);
    const std::size_t colon = line.find(':');
    if (colon != line.npos && EqualsAsciiNoCase(Trim(line.substr(0, colon)), name)) {
      return std::string(Trim(line.substr(colon + 1)));
    }
    start = end;
  }
  return {};
}

}  // namespace sorrel
