#include <algorithm>
#include <cstdint>

#include "http/decode.h"
#include "http/http_stack.h"
#include "http/request_steps.h"
#include "http/timed_request.h"
#include "http/url.h"
#include "http/web_access.h"
#include "http/worker_thread.h"
#include "text/codepage.h"

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

enum Slot { kAddress = 0, kMethod, kProxy, kHeaders, kBody, kCookies, kRedirect };
enum ReturnSlot { kResponseBody = 0, kCollectedCookies = 1, kResponseHeaders = 5 };

void PutLength(ByteSet& out, std::uint32_t n) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(n >> shift));
}

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

bool TimedRequestStream::Write(const TimedRequestRecord& record) {
  ByteSet bytes;
  PutLength(bytes, static_cast<std::uint32_t>(record.size()));
  for (const ByteSet& slot : record) {
    PutLength(bytes, static_cast<std::uint32_t>(slot.size()));
    bytes.insert(bytes.end(), slot.begin(), slot.end());
  }
  std::lock_guard lock(mutex_);
  bytes_ = std::move(bytes);
  return true;
}

std::optional<TimedRequestRecord> TimedRequestStream::Read() const {
  std::lock_guard lock(mutex_);
  std::size_t at = 0;
  auto length = [&](std::uint32_t& n) {
    if (bytes_.size() - at < 4) return false;
    n = 0;
    for (int i = 0; i < 4; ++i) n |= std::uint32_t{bytes_[at + i]} << (8 * i);
    at += 4;
    return true;
  };
  std::uint32_t count = 0;
  if (!length(count)) return std::nullopt;
  TimedRequestRecord record;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t n = 0;
    if (!length(n) || bytes_.size() - at < n) return std::nullopt;
    record.emplace_back(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes_.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  }
  return record;
}

void TimedRequestStream::SetFailure(RequestFailure failure) {
  std::lock_guard lock(mutex_);
  failure_ = failure;
}

RequestFailure TimedRequestStream::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void TimedRequestWorker(HttpStack& stack, TimedRequestStream& stream, EventPump* pump,
                        std::uint32_t limitMs) {
  std::optional<TimedRequestRecord> read = stream.Read();
  if (!read) return;
  TimedRequestRecord record = std::move(*read);
  record.resize(kTimedRequestSlots);

  const Text address = TextOf(record[kAddress]);
  const Text method = TextOf(record[kMethod]);
  Text headers = TextOf(record[kHeaders]);
  const ByteSet& body = record[kBody];
  const Text cookies = TextOf(record[kCookies]);
  const bool redirects = TextOf(record[kRedirect]) == BoolText(true);

  const bool https = UrlIsSecure(address);
  const Text host = UrlHost(address);
  const Text path = UrlPath(address);
  const Text agent = Find(headers, "User-Agent:", 1, true) > 0
                         ? TrimSpaces(TextBetween(headers, "User-Agent:", "\r\n"))
                         : Text(kDefaultUserAgent);

  auto failed = [&] {
    record[kAddress].clear();
    record[kRedirect].clear();
    stream.Write(record);
  };
  auto session = stack.Open(agent, TextOf(record[kProxy]), pump);
  if (!session) return failed();
  auto connection = session->Connect(host, UrlPort(address));
  if (!connection) return failed();

  std::uint32_t flags = kFlagReload | kFlagNeedFile;
  if (!TrimSpaces(cookies).empty()) flags |= kFlagNoCookies;
  if (!redirects) flags |= kFlagNoAutoRedirect;
  flags = https ? kFlagSecure : flags | kFlagIgnoreRedirectToHttps;
  auto request = connection->OpenRequest(method, path, "HTTP/1.1", flags);
  if (!request) return failed();
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
  if (!request->Send(headers, sentBody)) stream.SetFailure(RequestFailure::kUnreachable);

  bool tooLarge = false;
  ByteSet received = ReadWholeBody(*request, kReadChunk, nullptr, &tooLarge);
  if (tooLarge) stream.SetFailure(RequestFailure::kTooLarge);
  const Text headerText = QueryHeaderText(*request);
  request.reset();
  connection.reset();
  session.reset();

  record[kResponseBody] = std::move(received);
  record[kResponseHeaders] = BytesOf(headerText);
  record[kCollectedCookies] = BytesOf(CollectResponseCookies(stack, headerText, host));
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

  const TimedRequestRecord request = {
      BytesOf(url),
      BytesOf(args.method == 1 ? "POST" : "GET"),
      BytesOf(args.proxy),
      BytesOf(args.headers),
      args.postData,
      BytesOf(args.cookies),
      BytesOf(BoolText(args.allowRedirect.value_or(true))),
  };
  // Shared with the worker, so that an abandoned worker still owns it.
  auto stream = std::make_shared<TimedRequestStream>();
  if (!stream->Write(request)) return {};

  const std::uint32_t start = threads_.TickCount();
  const std::int64_t timeout = TimeoutMilliseconds(args.timeoutSeconds);
  auto elapsed = [&]() -> std::int64_t {
    return static_cast<std::uint32_t>(threads_.TickCount() - start);
  };
  bool timedOut = false;
  if (timeout > 0 && stack_.LimitsTime()) {
    // The stack keeps the limit and calls the pump while it waits, so the
    // exchange needs no worker; waking one and then this thread costs about
    // as much as a whole exchange on loopback.
    TimedRequestWorker(stack_, *stream, &pump_, static_cast<std::uint32_t>(timeout));
    timedOut = elapsed() >= timeout;
  } else {
    HttpStack* stack = &stack_;
    std::unique_ptr<WorkerThread> worker =
        threads_.Start([stack, stream] { TimedRequestWorker(*stack, *stream); });
    for (;;) {
      const std::int64_t remaining = std::max<std::int64_t>(0, timeout - elapsed());
      WaitResult result = threads_.Wait(worker.get(), static_cast<std::uint32_t>(remaining));
      timedOut = result == WaitResult::kTimedOut || elapsed() >= timeout;
      pump_.ProcessPendingEvents();
      if (result == WaitResult::kFinished || timedOut) break;
    }
  }

  if (timedOut) {
    fail(RequestFailure::kTimedOut);
    return BytesOf(Utf8ToGbk(kTimeoutText));
  }

  std::optional<TimedRequestRecord> answer = stream->Read();
  if (!answer) {
    fail(RequestFailure::kUnreachable);
    return {};
  }
  if (answer->size() != kTimedRequestSlots) return answer->empty() ? ByteSet{} : (*answer)[0];
  // A worker that could not reach the server clears the redirect slot; the
  // request's own cookie and method texts it left in place are no answer.
  const bool reached = !(*answer)[kRedirect].empty();
  fail(reached ? stream->Failure() : RequestFailure::kUnreachable);
  if (args.responseHeaders != nullptr) {
    *args.responseHeaders = reached ? TextOf((*answer)[kResponseHeaders]) : Text();
  }
  if (args.responseCookies != nullptr) {
    *args.responseCookies = reached ? TextOf((*answer)[kCollectedCookies]) : Text();
  }
  return ConvertBody(std::move((*answer)[kResponseBody]), args.conversion);
}

}  // namespace sorrel
