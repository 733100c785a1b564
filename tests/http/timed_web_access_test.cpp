#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "http/timed_request.h"
#include "http/web_access.h"
#include "http/worker_thread.h"
#include "one_call.h"
#include "test_helpers/fake_stack.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

using test::FakeCookie;
using test::FakeHttpStack;
using test::kAccept;
using test::kLanguage;
using test::OneCall;
using test::ScriptedThreads;

const Text kDefaultAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727; .NET CLR "
    "3.0.04506.648; .NET CLR 3.5.21022)";

Text TimeoutText() {
  return Utf8ToGbk(
      "超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时返回＂的值设置长一些"
      "。");
}

class TimedWebAccessTest : public ::testing::Test, protected OneCall {};

TEST_F(TimedWebAccessTest, ABlankAddressStartsNothing) {
  Text url = "  \xA1\xA1 ";
  Text headers = "old";
  EXPECT_TRUE(client.TimedWebAccess(url, {.responseHeaders = &headers}).empty());
  EXPECT_TRUE(stack.Calls().empty());
  EXPECT_TRUE(threads.waitedFor.empty());
  EXPECT_EQ(headers, "old");
}

TEST_F(TimedWebAccessTest, CompletesTheSchemeWithoutTrimming) {
  const std::pair<Text, Text> cases[] = {
      {"example.com/a", "http://example.com/a"},
      {"HTTP://example.com/a", "HTTP://example.com/a"},
      {"example.com/a?u=https://b/", "http://example.com/a?u=https://b/"},
      {"https://example.com/a", "https://example.com/a"},
      {" example.com/a", "http:// example.com/a"},
  };
  for (const auto& [given, completed] : cases) {
    Text url = given;
    client.TimedWebAccess(url);
    EXPECT_EQ(url, completed);
  }
}

struct FlagCase {
  Text url;
  Text cookies;
  bool allowRedirect;
  Text connect;
  Text flags;
  Text path = "/p";
};

TEST_F(TimedWebAccessTest, BuildsTheRequestFlags) {
  const FlagCase cases[] = {
      {"http://web.test/p", "", true, "connect web.test:80", "80004010"},
      {"http://web.test:81/p", "a=1", true, "connect web.test:81", "80084010"},
      {"http://web.test/p", "   ", true, "connect web.test:80", "80004010"},
      {"http://web.test/p", "", false, "connect web.test:80", "80204010"},
      {"http://web.test/p", "a=1", false, "connect web.test:80", "80284010"},
      {"https://web.test/p", "a=1", false, "connect web.test:443", "00800000"},
      {"https://web.test:8443/p", "", true, "connect web.test:8443", "00800000"},
      // The scheme in any letter case; "https://" further on is no scheme.
      {"HTTPS://web.test/p", "", true, "connect web.test:443", "00800000"},
      {"Https://web.test:8443/p", "", true, "connect web.test:8443", "00800000"},
      {"hTTp://web.test/p", "", true, "connect web.test:80", "80004010"},
      {"http://web.test/p?u=https://x/", "", true, "connect web.test:80", "80004010",
       "/p?u=https://x/"},
  };
  for (const FlagCase& c : cases) {
    OneCall one;
    Text url = c.url;
    one.client.TimedWebAccess(url, {.cookies = c.cookies, .allowRedirect = c.allowRedirect});
    const auto calls = one.stack.Calls();
    ASSERT_GE(calls.size(), 3u) << c.url;
    EXPECT_EQ(calls[1], c.connect) << c.url;
    EXPECT_EQ(calls[2], "request GET " + c.path + " HTTP/1.1 " + c.flags)
        << c.url << " " << c.cookies;
  }
}

struct TimedBlockCase {
  const char* name;
  int method;
  Text headers;
  Text body;
  Text cookies;
  Text agent;
  Text block;
  Text sentBody;
};

TEST_F(TimedWebAccessTest, ComposesTheWorkersHeaderCopy) {
  const Text referer = "Referer: http://h/p\r\n";
  const Text form = "Content-Type: application/x-www-form-urlencoded\r\n";
  const TimedBlockCase cases[] = {
      {"defaults", 0, "", "", "", kDefaultAgent, kAccept + referer + kLanguage, ""},
      // Intended: the defaults look for a name anywhere in the extra headers,
      // and only "RefererNo" as written is the marker.
      {"language hides accept", 0, "Accept-Language: en\r\n", "", "", kDefaultAgent,
       "Accept-Language: en\r\n" + referer, ""},
      {"referer marker removed", 0, "X: 1\r\nRefererNo\r\n", "", "", kDefaultAgent,
       "X: 1\r\n\r\n" + kAccept + kLanguage, ""},
      {"lower-case marker kept", 0, "refererno\r\n", "", "", kDefaultAgent,
       "refererno\r\n" + kAccept + kLanguage, ""},
      {"own agent", 0, "User-Agent:  Foo/1.0 \r\n", "", "", "Foo/1.0",
       "User-Agent:  Foo/1.0 \r\n" + kAccept + referer + kLanguage, ""},
      // Intended: an agent line is read up to its line end only.
      {"agent without line end", 0, "User-Agent: Foo", "", "", "",
       "User-Agent: Foo" + kAccept + referer + kLanguage, ""},
      {"post form", 1, "", "a=1&b=2", "", kDefaultAgent,
       kAccept + referer + kLanguage + form + "Content-Length: 7\r\n", "a=1&b=2"},
      {"post keeps own type", 1, "content-type: text/plain\r\n", "xyz", "c=1", kDefaultAgent,
       "content-type: text/plain\r\n" + kAccept + referer + kLanguage +
           "Content-Length: 3\r\nCookie: c=1\r\n\r\n",
       "xyz"},
      {"post without body", 1, "", "", "", kDefaultAgent, kAccept + referer + kLanguage, ""},
      {"get sends no body", 0, "", "a=1", "  ", kDefaultAgent,
       kAccept + referer + kLanguage + "Cookie:   \r\n\r\n", ""},
  };
  for (const TimedBlockCase& c : cases) {
    OneCall one;
    Text url = "h/p";
    one.client.TimedWebAccess(url, {.method = c.method,
                                    .headers = c.headers,
                                    .postData = BytesOf(c.body),
                                    .cookies = c.cookies});
    EXPECT_EQ(one.stack.Calls().at(0), "open " + c.agent + "|") << c.name;
    EXPECT_EQ(one.stack.sentHeaders(), c.block) << c.name;
    EXPECT_EQ(one.stack.sentBody(), c.sentBody) << c.name;
    EXPECT_EQ(one.RequestCall().substr(0, 12), c.method == 1 ? "request POST" : "request GET ")
        << c.name;
  }
}

TEST_F(TimedWebAccessTest, HandsBackBodyHeadersAndCollectedCookies) {
  stack.script.body = std::string(5000, 'b');
  stack.script.rawHeaders =
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nSet-Cookie: junk\r\n\r\n";
  Text url = "http://Host.example/p";
  Text headers;
  Text cookies;
  const ByteSet body =
      client.TimedWebAccess(url, {.responseHeaders = &headers, .responseCookies = &cookies});
  EXPECT_EQ(body.size(), 5000u);
  EXPECT_EQ(headers, stack.script.rawHeaders);
  EXPECT_EQ(cookies, "a=1;b=2;junk;");
  const std::vector<FakeCookie> expected = {{"http://host.example", "a", "1; path=/"},
                                            {"http://host.example", "b", "2"},
                                            {"http://host.example", "", "junk"}};
  EXPECT_EQ(stack.cookies(), expected);
  int reads = 0;
  for (const auto& call : stack.Calls()) {
    if (call.rfind("read", 0) == 0) {
      EXPECT_EQ(call, "read 2048");
      ++reads;
    }
  }
  EXPECT_EQ(reads, 4);
}

TEST_F(TimedWebAccessTest, AHeaderBlockBeyondTheBufferIsReadWhole) {
  stack.script.rawHeaders =
      "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(2100, 'p') + "\r\nSet-Cookie: s=1\r\n\r\n";
  Text url = "h/";
  Text headers;
  Text cookies;
  client.TimedWebAccess(url, {.responseHeaders = &headers, .responseCookies = &cookies});
  EXPECT_EQ(headers, stack.script.rawHeaders);
  EXPECT_EQ(cookies, "s=1;");
}

TEST_F(TimedWebAccessTest, AWorkerThatCannotConnectGivesEmptyResults) {
  stack.script.failConnect = true;
  Text url = "h/";
  Text headers = "old";
  Text cookies = "old";
  EXPECT_TRUE(client
                  .TimedWebAccess(url, {.cookies = "c=1",
                                        .responseHeaders = &headers,
                                        .conversion = 1,
                                        .responseCookies = &cookies})
                  .empty());
  EXPECT_EQ(headers, "");
  EXPECT_EQ(cookies, "");
  EXPECT_EQ(stack.Calls().back(), "close session");
}

TEST_F(TimedWebAccessTest, ConvertsTheBodyUpToItsFirstZeroByte) {
  stack.script.body = std::string("\xE4\xB8\xAD\0\xE6\x96\x87", 7);
  Text url = "h/";
  EXPECT_EQ(TextOf(client.TimedWebAccess(url, {.conversion = 1})), Utf8ToGbk("中"));
  EXPECT_EQ(client.TimedWebAccess(url).size(), 7u);
}

// Each slot comes back under its own name: the body, the collected cookies
// and the header block in place of the address, the method and the cookie
// text; the redirect switch cleared when the server could not be reached.
TEST(TimedRequestRecordTest, TheWorkerAnswersInTheRecordsOwnSlots) {
  const TimedRequestRecord sent{.addressThenBody = BytesOf("http://h/p"),
                                .methodThenCookies = "POST",
                                .proxy = "",
                                .headers = "X: 1\r\n",
                                .postData = BytesOf("a=1"),
                                .cookiesThenHeaders = "c=1",
                                .allowRedirect = false};
  for (const bool reached : {true, false}) {
    FakeHttpStack stack;
    stack.script.failRequest = !reached;
    stack.script.body = "body";
    stack.script.rawHeaders = "HTTP/1.1 200 OK\r\nSet-Cookie: s=2; path=/\r\n\r\n";
    TimedRequestStream stream;
    stream.Write(sent);
    TimedRequestWorker(stack, stream);
    const std::optional<TimedRequestRecord> back = stream.Read();
    ASSERT_TRUE(back);
    EXPECT_EQ(TextOf(back->addressThenBody), reached ? "body" : "");
    EXPECT_EQ(back->methodThenCookies, reached ? "s=2;" : "POST");
    EXPECT_EQ(back->cookiesThenHeaders, reached ? stack.script.rawHeaders : "c=1");
    EXPECT_EQ(back->allowRedirect, reached ? std::optional<bool>(false) : std::nullopt);
    EXPECT_EQ(back->proxy, sent.proxy);
    EXPECT_EQ(back->headers, sent.headers);
    EXPECT_EQ(back->postData, sent.postData);
  }
}

TEST_F(TimedWebAccessTest, NamesWhyTheAnswerIsMissing) {
  struct Case {
    const char* name;
    void (*arrange)(test::FakeScript&);
    RequestFailure failure;
  };
  const Case cases[] = {
      {"no connection", [](test::FakeScript& s) { s.failConnect = true; },
       RequestFailure::kUnreachable},
      {"shorter than declared",
       [](test::FakeScript& s) {
         s.body = "cut";
         s.rawHeaders = "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n";
       },
       RequestFailure::kCut},
      {"whole", [](test::FakeScript& s) { s.body = "whole"; }, RequestFailure::kNone},
  };
  for (const Case& c : cases) {
    OneCall one;
    c.arrange(one.stack.script);
    Text url = "h/";
    RequestFailure failure = RequestFailure::kTimedOut;
    one.client.TimedWebAccess(url, {.failure = &failure});
    EXPECT_EQ(failure, c.failure) << c.name;
  }
}

TEST_F(TimedWebAccessTest, ANewerRequestEndsTheOneItReplaces) {
  const StopFlag stop = NewStopFlag();
  test::HookPump clicks([&] { stop->store(true); });
  threads.waits = {WaitResult::kEvents, WaitResult::kFinished};
  threads.runWorker = false;
  WebClient client(stack, clicks, windows, threads);
  Text url = "h/";
  Text headers = "old";
  RequestFailure failure = RequestFailure::kNone;
  EXPECT_TRUE(
      client.TimedWebAccess(url, {.responseHeaders = &headers, .failure = &failure, .stop = stop})
          .empty());
  EXPECT_EQ(failure, RequestFailure::kReplaced);
  EXPECT_EQ(headers, "old");
  EXPECT_EQ(threads.waitedFor.size(), 1u);
}

struct WaitCase {
  const char* name;
  std::optional<int> timeoutSeconds;
  std::deque<WaitResult> waits;
  std::deque<std::uint32_t> ticks;  // start, then before and after each wait
  bool timedOut;
  std::vector<std::uint32_t> waitedFor;
};

TEST_F(TimedWebAccessTest, WaitsForTheTimeThatRemains) {
  using enum WaitResult;
  const WaitCase cases[] = {
      {"finished at once", 1, {kFinished}, {100, 100, 150}, false, {1000}},
      {"default time-out", std::nullopt, {kFinished}, {0, 0, 10}, false, {60000}},
      {"events then finished",
       1,
       {kEvents, kEvents, kFinished},
       {0, 0, 400, 400, 900, 900, 950},
       false,
       {1000, 600, 100}},
      {"finished in the pass that reaches the limit",
       1,
       {kEvents, kFinished},
       {0, 0, 400, 400, 1000},
       true,
       {1000, 600}},
      {"zero time-out, worker already done", 0, {kFinished}, {50, 50, 50}, true, {0}},
      {"negative time-out", -3, {kFinished}, {50, 50, 50}, true, {0}},
      {"tick wrap-around",
       1,
       {kEvents, kTimedOut},
       {0xFFFFFF00u, 0xFFFFFF00u, 0x00000100u, 0x100u, 0x2E8u},
       true,
       {1000, 488}},
  };
  for (const WaitCase& c : cases) {
    OneCall one;
    one.stack.script.body = "done";
    one.threads.waits = c.waits;
    one.threads.ticks = c.ticks;
    Text url = "h/";
    Text headers = "old";
    const ByteSet result = one.client.TimedWebAccess(
        url, {.timeoutSeconds = c.timeoutSeconds, .responseHeaders = &headers});
    EXPECT_EQ(TextOf(result), c.timedOut ? TimeoutText() : "done") << c.name;
    EXPECT_EQ(headers == "old", c.timedOut) << c.name;
    EXPECT_EQ(one.threads.waitedFor, c.waitedFor) << c.name;
    EXPECT_EQ(one.pump.count, static_cast<int>(c.waitedFor.size())) << c.name;
  }
}

TEST_F(TimedWebAccessTest, AThreadThatCannotStartEndsAsATimeOut) {
  threads.failStart = true;
  threads.ticks = {0, 0, 300, 300, 700, 700, 1000};
  Text url = "h/";
  EXPECT_EQ(TextOf(client.TimedWebAccess(url, {.timeoutSeconds = 1})), TimeoutText());
  EXPECT_EQ(pump.count, 3);
  EXPECT_TRUE(stack.Calls().empty());
}

TEST(TimedWebAccessThreadsTest, RunsTheExchangeOnAWorkerThread) {
  FakeHttpStack stack;
  stack.script.body = "body";
  stack.script.rawHeaders = "HTTP/1.1 200 OK\r\n\r\n";
  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client(stack, pump, windows);
  Text url = "h/";
  Text headers;
  EXPECT_EQ(TextOf(client.TimedWebAccess(url, {.timeoutSeconds = 5, .responseHeaders = &headers})),
            "body");
  EXPECT_EQ(headers, stack.script.rawHeaders);
  EXPECT_FALSE(stack.pumpGiven());
  EXPECT_GE(pump.count, 1);
}

// Work that runs until it is let go.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  void Pass() {
    std::unique_lock lock(mutex);
    opened.wait(lock, [&] { return open; });
  }
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    opened.notify_all();
  }
};

WaitResult WaitAtMost(WorkerThread* worker, std::uint32_t ms) {
  ThreadSystem& threads = PlatformThreads();
  const std::uint32_t start = threads.TickCount();
  for (;;) {
    const std::uint32_t spent = threads.TickCount() - start;
    if (spent >= ms) return WaitResult::kTimedOut;
    const WaitResult result = threads.Wait(worker, ms - spent);
    if (result != WaitResult::kEvents) return result;
  }
}

TEST(PlatformThreadsTest, AWorkerStillBusyHoldsUpNoOtherWork) {
  auto gate = std::make_shared<Gate>();
  auto busy = PlatformThreads().Start([gate] { gate->Pass(); });
  auto next = PlatformThreads().Start([] {});
  ASSERT_TRUE(busy && next);
  EXPECT_EQ(WaitAtMost(next.get(), 5000), WaitResult::kFinished);
  EXPECT_EQ(WaitAtMost(busy.get(), 30), WaitResult::kTimedOut);
  gate->Open();
  EXPECT_EQ(WaitAtMost(busy.get(), 5000), WaitResult::kFinished);
}

#ifndef _WIN32
// A worker whose work has ended takes the next, and reports that work's end
// only. (Thread ids of the library are reused; the kernel's are not.)
TEST(PlatformThreadsTest, WorkAfterAnEndedOneReusesItsThread) {
  auto gate = std::make_shared<Gate>();
  pid_t first = 0, second = -1;
  auto ended = PlatformThreads().Start([&] { first = gettid(); });
  ASSERT_EQ(WaitAtMost(ended.get(), 5000), WaitResult::kFinished);
  auto next = PlatformThreads().Start([&, gate] {
    second = gettid();
    gate->Pass();
  });
  ASSERT_TRUE(next);
  EXPECT_EQ(WaitAtMost(next.get(), 30), WaitResult::kTimedOut);
  gate->Open();
  ASSERT_EQ(WaitAtMost(next.get(), 5000), WaitResult::kFinished);
  EXPECT_EQ(first, second);
}
#endif

}  // namespace
}  // namespace sorrel
