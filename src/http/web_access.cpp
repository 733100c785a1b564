#include "http/web_access.h"

#include <memory>

#include "http/http_stack.h"
#include "http/request_steps.h"
#include "http/url.h"
#include "http/worker_thread.h"
#include "support/notice.h"
#include "text/codepage.h"
#include "text/convert.h"

namespace sorrel {

namespace {

constexpr std::size_t kReadChunk = 1024;

// One page exchange: what it sends and what comes back. Shared with a
// worker, so that an abandoned one still owns it.
struct PageExchange {
  Text proxy;
  Text host;
  int port = 0;
  Text verb;
  Text path;
  std::uint32_t flags = 0;
  Text headers;
  Text body;
  std::uint32_t limitMs = 0;
  StopFlag stop;

  bool opened = false;  // the session, the connection and the request were obtained
  ByteSet received;
  Text headerText;
  RequestFailure failure = RequestFailure::kNone;
};

void RunPageExchange(HttpStack& stack, PageExchange& x, StoppingPump* pump) {
  auto session = stack.Open(kPageUserAgent, x.proxy, pump);
  if (!session) {
    x.failure = RequestFailure::kUnreachable;
    return;
  }
  auto connection = session->Connect(x.host, x.port);
  if (!connection) {
    x.failure = RequestFailure::kUnreachable;
    return;
  }
  auto request = connection->OpenRequest(x.verb, x.path, "HTTP/1.1", x.flags);
  if (!request) {
    x.failure = RequestFailure::kUnreachable;
    return;
  }
  x.opened = true;
  if (pump != nullptr) pump->Watch(request.get());
  request->LimitTime(x.limitMs);
  const bool sent = request->Send(x.headers, x.body);
  bool tooLarge = false;
  x.received = ReadWholeBody(*request, kReadChunk, pump, kMaxPageBytes, x.stop, &tooLarge);
  x.headerText = QueryHeaderText(*request);
  x.failure = FailureOf(*request, sent, tooLarge, x.headerText, x.received.size());
  if (pump != nullptr) pump->Watch(nullptr);
}

}  // namespace

WebClient::WebClient(HttpStack& stack, EventPump& pump, WindowSystem& windows)
    : WebClient(stack, pump, windows, PlatformThreads()) {}

WebClient::WebClient(HttpStack& stack, EventPump& pump, WindowSystem& windows,
                     ThreadSystem& threads)
    : stack_(stack), pump_(pump), windows_(windows), threads_(threads) {}

ByteSet WebClient::WebAccess(Text& url, const WebAccessArgs& args) {
  auto fail = [&args](RequestFailure why) {
    if (args.failure != nullptr) *args.failure = why;
  };
  fail(RequestFailure::kNone);
  url = TrimSpaces(url);
  const int method = args.method.value_or(0);
  if (method != 0 && method != 1) {
    ShowNotice(windows_, Utf8ToGbk("【网页_访问】命令的第二个【访问方式】参数有误,请返回修改"));
    return {};
  }
  url = WithScheme(url);
  if (url.size() > kMaxAddressBytes) {
    fail(RequestFailure::kBadAddress);
    return {};
  }

  auto x = std::make_shared<PageExchange>();
  x->verb = method == 1 ? "POST" : "GET";
  x->host = UrlHost(url);
  x->path = UrlPath(url);
  x->port = UrlPort(url);
  x->flags = kFlagReload | (UrlIsSecure(url) ? std::uint32_t{kFlagSecure} : 0u);
  // An empty proxy is a direct connection, also one of spaces only.
  if (!RemoveSpaces(args.proxy).empty()) x->proxy = args.proxy;
  x->limitMs = args.limitMs.value_or(pageLimitMs_);
  x->stop = args.stop;

  // The caller's header variable is completed only once the request exists.
  Text headers = args.headers != nullptr ? *args.headers : Text();
  AddDefaultAccept(headers, "Accept: ");
  if (Find(headers, "Referer: ", 1, true) <= 0) headers += "Referer: " + url + "\r\n";
  if (Find(headers, "Accept-Language: ", 1, true) <= 0) headers += "Accept-Language: zh-cn\r\n";
  if (ToUpperAscii(x->verb) == "POST" && !args.postData.empty()) {
    headers += "Content-Type: application/x-www-form-urlencoded\r\n";
    headers +=
        "Content-Length: " + NumberText(static_cast<long long>(args.postData.size())) + "\r\n";
    x->body = args.postData;
  }
  if (!args.cookies.empty()) headers += "Cookie: " + args.cookies + "\r\n\r\n";
  x->headers = headers;

  HttpStack& stack = stack_;
  const RunEnd end =
      RunBounded(stack_, threads_, pump_, x->limitMs, args.stop,
                 [&stack, x](StoppingPump* pump) { RunPageExchange(stack, *x, pump); });
  if (end == RunEnd::kTimedOut) {
    fail(RequestFailure::kTimedOut);
    return {};
  }
  if (end == RunEnd::kStopped) {
    fail(RequestFailure::kReplaced);
    return {};
  }
  fail(x->failure);
  if (!x->opened) return {};
  if (args.headers != nullptr) *args.headers = headers;
  if (args.responseHeaders != nullptr) *args.responseHeaders = x->headerText;
  StoreResponseCookies(stack_, x->headerText, x->host);
  return ConvertBody(std::move(x->received), args.conversion);
}

Text WebClient::GetPageText(Text& url, RequestFailure* failure, const StopFlag& stop,
                            const Text& proxy) {
  WebAccessArgs args;
  args.proxy = proxy;
  args.failure = failure;
  args.stop = stop;
  return TextOf(WebAccess(url, args));
}

}  // namespace sorrel
