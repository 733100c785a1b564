#include <algorithm>
#include <cstdint>

#include "http/bounded_run.h"
#include "http/http_stack.h"
#include "http/request_steps.h"
#include "http/timed_request.h"
#include "http/url.h"
#include "http/web_access.h"
#include "http/worker_thread.h"
#include "text/codepage.h"
#include "text/decode.h"

namespace sorrel {

namespace {

constexpr std::string_view kDefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727; .NET CLR "
    "3.0.04506.648; .NET CLR 3.5.21022)";
constexpr std::string_view kTimeoutText =
    "超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时返回＂的值设置长一些"
    "。";
constexpr std::int64_t kDefaultTimeoutMs = 60000;
constexpr std::size_t kReadChunk = 2048;

std::int64_t TimeoutMilliseconds(const std::optional<int>& seconds) {
  if (!seconds) return kDefaultTimeoutMs;
  return std::clamp<std::int64_t>(std::int64_t{*seconds} * 1000, INT32_MIN, INT32_MAX);
}

// Default lines the worker appends to its copy of the headers. Each test
// looks for the bare name anywhere in the copy as it stands.
void CompleteHeaders(Text& headers, std::string_view address) {
  AddDefaultAccept(headers, "Accept");
  if (Find(headers, "RefererNo", 1, true) > 0) {
    headers = Replace(headers, "RefererNo", "", 1, 1, true);
  } else if (Find(headers, "Referer", 1, true) <= 0) {
    headers += "Referer: " + Text(address) + "\r\n";
  }
  if (Find(headers, "Accept-Language", 1, true) <= 0) headers += "Accept-Language: zh-cn\r\n";
}

}  // namespace

void TimedRequestStream::Write(const TimedRequestRecord& record) {
  std::lock_guard lock(mutex_);
  record_ = record;
}

std::optional<TimedRequestRecord> TimedRequestStream::Read() const {
  std::lock_guard lock(mutex_);
  return record_;
}

void TimedRequestStream::SetFailure(RequestFailure failure) {
  std::lock_guard lock(mutex_);
  failure_ = failure;
}

RequestFailure TimedRequestStream::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void TimedRequestWorker(HttpStack& stack, TimedRequestStream& stream, StoppingPump* pump,
                        std::uint32_t limitMs, const StopFlag& stop) {
  std::optional<TimedRequestRecord> read = stream.Read();
  if (!read) return;
  TimedRequestRecord record = std::move(*read);

  const Text address = TextOf(record.addressThenBody);
  const Text method = record.methodThenCookies;
  Text headers = record.headers;
  const ByteSet& body = record.postData;
  const Text cookies = record.cookiesThenHeaders;
  const bool redirects = record.allowRedirect.value_or(false);

  const bool https = UrlIsSecure(address);
  const Text host = UrlHost(address);
  const Text path = UrlPath(address);
  const Text agent = Find(headers, "User-Agent:", 1, true) > 0
                         ? TrimSpaces(TextBetween(headers, "User-Agent:", "\r\n"))
                         : Text(kDefaultUserAgent);

  auto failed = [&] {
    record.addressThenBody.clear();
    record.allowRedirect.reset();
    stream.Write(record);
  };
  auto session = stack.Open(agent, record.proxy, pump);
  if (!session) return failed();
  auto connection = session->Connect(host, UrlPort(address));
  if (!connection) return failed();

  std::uint32_t flags = kFlagReload | kFlagNeedFile;
  if (!TrimSpaces(cookies).empty()) flags |= kFlagNoCookies;
  if (!redirects) flags |= kFlagNoAutoRedirect;
  flags = https ? kFlagSecure : flags | kFlagIgnoreRedirectToHttps;
  auto request = connection->OpenRequest(method, path, "HTTP/1.1", flags);
  if (!request) return failed();
  if (pump != nullptr) pump->Watch(request.get());
  if (limitMs != 0) request->LimitTime(limitMs);

  CompleteHeaders(headers, address);
  std::string_view sentBody;
  if (method == "POST" && !body.empty()) {
    if (Find(headers, "Content-Type", 1, true) <= 0) {
      headers += "Content-Type: application/x-www-form-urlencoded\r\n";
    }
    if (Find(headers, "Content-Length", 1, true) <= 0) {
      headers += "Content-Length: " + NumberText(static_cast<long long>(body.size())) + "\r\n";
    }
    sentBody = ViewOf(body);
  }
  if (!cookies.empty()) headers += "Cookie: " + cookies + "\r\n\r\n";
  const bool sent = request->Send(headers, sentBody);

  bool tooLarge = false;
  // On the calling thread the window's events go on between reads too: an
  // answer that streams in fast gives the stack no wait to process them in.
  ByteSet received = ReadWholeBody(*request, kReadChunk, pump, kMaxTimedBodyBytes, stop, &tooLarge);
  const Text headerText = QueryHeaderText(*request);
  stream.SetFailure(FailureOf(*request, sent, tooLarge, headerText, received.size()));
  if (pump != nullptr) pump->Watch(nullptr);
  request.reset();
  connection.reset();
  session.reset();

  record.addressThenBody = std::move(received);
  record.cookiesThenHeaders = headerText;
  record.methodThenCookies = CollectResponseCookies(stack, headerText, host);
  stream.Write(record);
}

ByteSet WebClient::TimedWebAccess(Text& url, const TimedWebAccessArgs& args) {
  auto fail = [&args](RequestFailure why) {
    if (args.failure != nullptr) *args.failure = why;
  };
  fail(RequestFailure::kNone);
  if (TrimSpaces(url).empty()) {
    fail(RequestFailure::kUnreachable);
    return {};
  }
  url = WithScheme(url);

  // Shared with the worker, so that an abandoned worker still owns it.
  auto stream = std::make_shared<TimedRequestStream>();
  stream->Write({
      .addressThenBody = BytesOf(url),
      .methodThenCookies = args.method == 1 ? "POST" : "GET",
      .proxy = args.proxy,
      .headers = args.headers,
      .postData = args.postData,
      .cookiesThenHeaders = args.cookies,
      .allowRedirect = args.allowRedirect.value_or(true),
  });

  const std::int64_t timeout = TimeoutMilliseconds(args.timeoutSeconds);
  const auto limit = static_cast<std::uint32_t>(std::max<std::int64_t>(timeout, 0));
  HttpStack& stack = stack_;
  const RunEnd end = RunBounded(stack_, threads_, pump_, timeout, args.stop,
                                [&stack, stream, limit, stop = args.stop](StoppingPump* pump) {
                                  TimedRequestWorker(stack, *stream, pump, limit, stop);
                                });
  if (end == RunEnd::kTimedOut) {
    fail(RequestFailure::kTimedOut);
    return BytesOf(Utf8ToGbk(kTimeoutText));
  }
  if (end == RunEnd::kStopped) {
    fail(RequestFailure::kReplaced);
    return {};
  }

  std::optional<TimedRequestRecord> answer = stream->Read();
  if (!answer) {
    fail(RequestFailure::kUnreachable);
    return {};
  }
  // A worker that could not reach the server clears the redirect slot; the
  // request's own cookie and method texts it left in place are no answer.
  const bool reached = answer->allowRedirect.has_value();
  fail(reached ? stream->Failure() : RequestFailure::kUnreachable);
  if (args.responseHeaders != nullptr) {
    *args.responseHeaders = reached ? answer->cookiesThenHeaders : Text();
  }
  if (args.responseCookies != nullptr) {
    *args.responseCookies = reached ? answer->methodThenCookies : Text();
  }
  return ConvertBody(std::move(answer->addressThenBody), args.conversion);
}

}  // namespace sorrel
