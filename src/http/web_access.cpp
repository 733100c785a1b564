#include "http/web_access.h"

#include "http/convert.h"
#include "http/http_stack.h"
#include "http/request_steps.h"
#include "http/url.h"
#include "http/worker_thread.h"
#include "support/notice.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

constexpr std::size_t kReadChunk = 1024;

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
  const Text verb = method == 1 ? "POST" : "GET";
  url = WithScheme(url);

  const Text host = UrlHost(url);
  const Text path = UrlPath(url);
  const bool secure = UrlIsSecure(url);
  const int port = UrlPort(url);

  // Both arms are views: a "" arm would make the whole expression a
  // temporary string that dies before the view is used.
  const std::string_view proxy =
      RemoveSpaces(args.proxy).empty() ? std::string_view() : std::string_view(args.proxy);
  auto session = stack_.Open(kPageUserAgent, proxy, &pump_);
  if (!session) {
    fail(RequestFailure::kUnreachable);
    return {};
  }
  auto connection = session->Connect(host, port);
  if (!connection) {
    fail(RequestFailure::kUnreachable);
    return {};
  }
  auto request = connection->OpenRequest(verb, path, "HTTP/1.1",
                                         kFlagReload | (secure ? std::uint32_t{kFlagSecure} : 0u));
  if (!request) {
    fail(RequestFailure::kUnreachable);
    return {};
  }

  Text ownHeaders;
  Text& headers = args.headers != nullptr ? *args.headers : ownHeaders;
  AddDefaultAccept(headers, "Accept: ");
  if (Find(headers, "Referer: ", 1, true) <= 0) headers += "Referer: " + url + "\r\n";
  if (Find(headers, "Accept-Language: ", 1, true) <= 0) headers += "Accept-Language: zh-cn\r\n";

  std::string_view body;
  if (ToUpperAscii(verb) == "POST" && !args.postData.empty()) {
    headers += "Content-Type: application/x-www-form-urlencoded\r\n";
    headers +=
        "Content-Length: " + NumberText(static_cast<long long>(args.postData.size())) + "\r\n";
    body = args.postData;
  }
  if (!args.cookies.empty()) headers += "Cookie: " + args.cookies + "\r\n\r\n";
  if (!request->Send(headers, body)) fail(RequestFailure::kUnreachable);

  bool tooLarge = false;
  ByteSet received = ReadWholeBody(*request, kReadChunk, &pump_, &tooLarge);
  if (tooLarge) fail(RequestFailure::kTooLarge);
  const Text headerText = QueryHeaderText(*request);
  request.reset();
  connection.reset();
  session.reset();

  if (args.responseHeaders != nullptr) *args.responseHeaders = headerText;
  StoreResponseCookies(stack_, headerText, host);
  return ConvertBody(std::move(received), args.conversion);
}

Text WebClient::GetPageText(Text& url, RequestFailure* failure) {
  WebAccessArgs args;
  args.failure = failure;
  return TextOf(WebAccess(url, args));
}

}  // namespace sorrel
