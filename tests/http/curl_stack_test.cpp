// The request operations over the libcurl stack against servers on
// 127.0.0.1 where one exchange does not tell: proxies, caps, stalls and
// time-outs. Exchanges pinned byte for byte are under tests/data/cases, TLS
// with the scheme tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "http/http_stack_curl.h"
#include "http/web_access.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/loopback_server.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

using test::HttpResponse;
using test::LoopbackServer;

Text TimeoutText() {
  return Utf8ToGbk(
      "超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时返回＂的值设置长一些"
      "。");
}

// Workers abandoned at a time-out may still use the stack after a test ends.
CurlHttpStack& SharedStack() {
  static CurlHttpStack* stack = new CurlHttpStack();
  return *stack;
}

class CurlStackTest : public ::testing::Test {
 protected:
  void SetUp() override { ProcessCookieStore().Clear(); }

  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client{SharedStack(), pump, windows};
};

TEST_F(CurlStackTest, GoesThroughTheGivenProxyAndIgnoresTheEnvironment) {
  LoopbackServer proxy(LoopbackServer::Answer(HttpResponse("via proxy")));
  LoopbackServer direct(LoopbackServer::Answer(HttpResponse("direct")));
  ::setenv("http_proxy", "http://127.0.0.1:9", 1);
  ::setenv("HTTP_PROXY", "http://127.0.0.1:9", 1);
  Text target = "127.0.0.1:9/far";
  EXPECT_EQ(TextOf(client.WebAccess(target, {.proxy = proxy.authority()})), "via proxy");
  Text timedTarget = "127.0.0.1:9/far2";
  EXPECT_EQ(
      TextOf(client.TimedWebAccess(timedTarget, {.proxy = proxy.authority(), .timeoutSeconds = 5})),
      "via proxy");
  Text plain = direct.authority() + "/";
  EXPECT_EQ(TextOf(client.WebAccess(plain)), "direct");
  ::unsetenv("http_proxy");
  ::unsetenv("HTTP_PROXY");

  const auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].rfind("GET http://127.0.0.1:9/far HTTP/1.1\r\n", 0), 0u) << requests[0];
  EXPECT_EQ(requests[1].rfind("GET http://127.0.0.1:9/far2 HTTP/1.1\r\n", 0), 0u) << requests[1];
  for (const std::string& request : requests) {
    EXPECT_EQ(request.find("Proxy-Connection"), std::string::npos) << request;
  }
}

TEST_F(CurlStackTest, ABodyBeyond64MiBIsAFailedRead) {
  const std::size_t size = (std::size_t{64} << 20) + 1;
  LoopbackServer server([size](const std::string&, LoopbackServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n");
    const std::string block(1 << 20, 'z');
    for (std::size_t sent = 0; sent < size; sent += block.size()) {
      if (!c.Write(std::string_view(block).substr(0, std::min(block.size(), size - sent)))) return;
    }
  });
  Text url = server.authority() + "/big";
  EXPECT_TRUE(client.WebAccess(url).empty());
  EXPECT_TRUE(client.TimedWebAccess(url, {.timeoutSeconds = 30}).empty());
}

TEST_F(CurlStackTest, PageRequestKeepsTheWindowAliveWhileWaiting) {
  LoopbackServer server([](const std::string&, LoopbackServer::Connection& c) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    c.Write(HttpResponse("late"));
  });
  Text url = server.authority() + "/";
  EXPECT_EQ(TextOf(client.WebAccess(url)), "late");
  // One pass per read would be two; waiting in slices gives many more.
  EXPECT_GT(pump.count, 10);
}

TEST_F(CurlStackTest, AStalledTransferEndsAsAFailedRead) {
  LoopbackServer server([](const std::string&, LoopbackServer::Connection& c) { c.HoldOpen(); });
  CurlHttpStack impatient(CurlStackOptions{.stallSeconds = 1});
  WebClient one(impatient, pump, windows);
  Text url = server.authority() + "/";
  Text responseHeaders;
  EXPECT_TRUE(one.WebAccess(url, {.responseHeaders = &responseHeaders}).empty());
  EXPECT_EQ(responseHeaders, std::string(2048, ' '));
  server.Stop();
}

TEST_F(CurlStackTest, TimedRequestToASilentServerTimesOut) {
  LoopbackServer silent([](const std::string&, LoopbackServer::Connection& c) { c.HoldOpen(); });
  Text url = silent.authority() + "/";
  Text headers = "old";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TextOf(client.TimedWebAccess(url, {.timeoutSeconds = 1, .responseHeaders = &headers})),
            TimeoutText());
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(990));
  // The remaining time, not the whole time-out, is waited in later passes.
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
  EXPECT_EQ(headers, "old");
  EXPECT_GT(pump.count, 5);
  silent.Stop();
}

TEST_F(CurlStackTest, AbandonedWorkersLeaveLaterCallsAlone) {
  LoopbackServer silent([](const std::string&, LoopbackServer::Connection& c) { c.HoldOpen(); });
  LoopbackServer normal(LoopbackServer::Answer(HttpResponse("fine", "Set-Cookie: n=1\r\n")));
  for (int i = 0; i < 20; ++i) {
    Text url = silent.authority() + "/" + std::to_string(i);
    EXPECT_EQ(TextOf(client.TimedWebAccess(url, {.timeoutSeconds = 0})), TimeoutText());
  }
  Text url = normal.authority() + "/";
  Text cookies;
  EXPECT_EQ(TextOf(client.TimedWebAccess(url, {.timeoutSeconds = 5, .responseCookies = &cookies})),
            "fine");
  EXPECT_EQ(cookies, "n=1;");
  silent.Stop();
}

TEST(CookieStoreTest, SetCookieKeepsOneEntryPerNameHostAndPath) {
  CookieStore& store = ProcessCookieStore();
  store.Clear();
  CurlHttpStack stack;
  stack.SetCookie("http://127.0.0.1", "a", "1; path=/");
  stack.SetCookie("http://127.0.0.1", "a", "2; path=/");
  stack.SetCookie("http://example.test", "b", "3; domain=.example.test; path=/x; secure");
  auto lines = store.List();
  std::sort(lines.begin(), lines.end());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], ".example.test\tTRUE\t/x\tTRUE\t0\tb\t3");
  EXPECT_EQ(lines[1], "127.0.0.1\tFALSE\t/\tFALSE\t0\ta\t2");
  store.Clear();
  EXPECT_TRUE(store.List().empty());
}

}  // namespace
}  // namespace sorrel
