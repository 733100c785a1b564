// Header-block composition of both request operations and the parsing of
// the response's cookie lines, with arbitrary caller headers, cookie text,
// body and raw response header block. Cookies go to the real cookie store.
#include "fuzz_target.h"
#include "http/http_stack_curl.h"
#include "http/request_steps.h"
#include "http/timed_request.h"
#include "http/web_access.h"
#include "test_helpers/fake_stack.h"

namespace {

sorrel::CurlHttpStack& CookieStack() {
  static auto* stack = new sorrel::CurlHttpStack();
  return *stack;
}

}  // namespace

SORREL_FUZZ_TARGET(headers) {
  if (size < 1) return 0;
  const std::uint8_t switches = data[0];
  std::string parts[5];
  sorrel::fuzz::SplitInput(data + 1, size - 1, parts);
  const std::string& url = parts[0];
  const std::string& headers = parts[1];
  const std::string& cookies = parts[2];
  const std::string& body = parts[3];
  const std::string& rawHeaders = parts[4];

  sorrel::test::FakeHttpStack stack;
  stack.script.rawHeaders = rawHeaders;
  stack.script.body = "b";
  sorrel::test::RecordingWindows windows;
  sorrel::WebClient client(stack, sorrel::NoEventPump(), windows);

  sorrel::Text pageUrl = url;
  sorrel::Text pageHeaders = headers;
  sorrel::Text responseHeaders;
  client.WebAccess(pageUrl, {.method = switches & 1,
                             .headers = &pageHeaders,
                             .postData = body,
                             .cookies = cookies,
                             .responseHeaders = &responseHeaders});
  if (!cookies.empty()) {
    const std::string sent = stack.sentHeaders();
    SORREL_FUZZ_CHECK(sent.size() >= cookies.size() + 12 &&
                      sent.compare(sent.size() - 4, 4, "\r\n\r\n") == 0);
  }

  auto stream = std::make_shared<sorrel::TimedRequestStream>();
  stream->Write({.addressThenBody = sorrel::BytesOf(url),
                 .methodThenCookies = (switches & 2) ? "POST" : "GET",
                 .headers = headers,
                 .postData = sorrel::BytesOf(body),
                 .cookiesThenHeaders = cookies,
                 .allowRedirect = (switches & 4) != 0});
  sorrel::TimedRequestWorker(stack, *stream);
  const auto answer = stream->Read();
  SORREL_FUZZ_CHECK(answer && answer->allowRedirect.has_value());

  // The store parses every cookie line for real; keep it small.
  sorrel::CollectResponseCookies(CookieStack(), rawHeaders, "fuzz.example");
  sorrel::StoreResponseCookies(CookieStack(), rawHeaders, "fuzz.example");
  static int calls = 0;
  if (++calls % 64 == 0) sorrel::ProcessCookieStore().Clear();
  return 0;
}
