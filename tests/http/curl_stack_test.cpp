// The request operations over the libcurl stack against servers on
// 127.0.0.1 where one exchange does not tell: proxies, caps, stalls and
// time-outs. Exchanges pinned byte for byte are under tests/data/cases, TLS
// with the scheme tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "http/http_call.h"
#include "http/http_stack_curl.h"
#include "http/web_access.h"
#include "http/worker_thread.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/loopback_server.h"
#include "test_helpers/proxy_process.h"
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

// HTTPS through an HTTP proxy is a CONNECT tunnel whose far end still has
// to show a certificate the stack trusts.
TEST_F(CurlStackTest, HttpsGoesThroughAConnectTunnelWithItsCertificateChecked) {
  const test::TestCertificate cert = test::MakeTestCertificate();
  ASSERT_TRUE(cert.ok);
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("tunnelled")), &cert);
  test::ProxyProcess proxy;
  ASSERT_TRUE(proxy.ok());
  CurlHttpStack trusting(CurlStackOptions{.caFile = cert.certFile});
  WebClient through(trusting, pump, windows);
  const Text via = "http://" + proxy.authority();
  Text address = "https://" + server.authority() + "/secret";
  RequestFailure failure = RequestFailure::kNone;
  EXPECT_EQ(TextOf(through.WebAccess(address, {.proxy = via, .failure = &failure})), "tunnelled");
  EXPECT_EQ(failure, RequestFailure::kNone);
  // The system's store does not know the test's certificate.
  Text again = "https://" + server.authority() + "/secret";
  EXPECT_TRUE(client.WebAccess(again, {.proxy = via, .failure = &failure}).empty());
  EXPECT_EQ(failure, RequestFailure::kUnreachable);
  const std::vector<std::string> expected(2, "CONNECT " + server.authority());
  EXPECT_EQ(proxy.Log(), expected);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("GET /secret HTTP/1.1\r\n", 0), 0u);
}

// What the proxy did wrong is told apart from the server's failures.
TEST_F(CurlStackTest, TheProxysOwnFailuresAreNamed) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("page")));
  test::ProxyProcess wantsPassword({"--user", "ann", "--password", "pw"});
  test::ProxyProcess refusing({"--refuse"});
  test::ProxyProcess refusingSocks({"--socks", "--refuse"});
  ASSERT_TRUE(wantsPassword.ok() && refusing.ok() && refusingSocks.ok());
  struct Row {
    std::string proxy;
    const char* scheme;
    RequestFailure failure;
    const char* body;
  };
  const Row rows[] = {
      {"http://127.0.0.1:1", "http", RequestFailure::kProxyUnreachable, ""},
      {"socks5h://127.0.0.1:1", "http", RequestFailure::kProxyUnreachable, ""},
      {"http://no.such.host.invalid:8080", "http", RequestFailure::kProxyUnreachable, ""},
      {"http://" + wantsPassword.authority(), "http", RequestFailure::kProxyNeedsPassword, ""},
      {"http://" + wantsPassword.authority(), "https", RequestFailure::kProxyNeedsPassword, ""},
      {"http://ann:no@" + wantsPassword.authority(), "http", RequestFailure::kProxyNeedsPassword,
       ""},
      {"http://ann:pw@" + wantsPassword.authority(), "http", RequestFailure::kNone, "page"},
      {"http://" + refusing.authority(), "https", RequestFailure::kProxyRefused, ""},
      {"socks5h://" + refusingSocks.authority(), "http", RequestFailure::kProxyRefused, ""},
  };
  for (const Row& row : rows) {
    Text address = std::string(row.scheme) + "://" + server.authority() + "/";
    RequestFailure failure = RequestFailure::kNone;
    EXPECT_EQ(TextOf(client.WebAccess(address, {.proxy = row.proxy, .failure = &failure})),
              row.body)
        << row.proxy << " " << row.scheme;
    EXPECT_EQ(failure, row.failure) << row.proxy << " " << row.scheme;
  }
  EXPECT_EQ(wantsPassword.Log().size(), 4u);
  EXPECT_EQ(refusingSocks.Log(), std::vector<std::string>{"REFUSED " + server.authority()});
}

// "system" is the environment, read at each request, no_proxy included.
TEST_F(CurlStackTest, TheSystemsProxyIsTheEnvironments) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("page")));
  test::ProxyProcess proxy({"--socks"});
  ASSERT_TRUE(proxy.ok());
  const Text system = "system";
  struct Row {
    const char* name;
    std::string value;
    const char* noProxy;
    bool throughProxy;
  };
  const Row rows[] = {
      {"http_proxy", "socks5h://" + proxy.authority(), nullptr, true},
      {"ALL_PROXY", "socks5h://" + proxy.authority(), nullptr, true},
      {"HTTP_PROXY", "socks5h://" + proxy.authority(), "localhost,127.0.0.1", false},
      {"https_proxy", "socks5h://" + proxy.authority(), nullptr, false},
  };
  for (const Row& row : rows) {
    ::setenv(row.name, row.value.c_str(), 1);
    if (row.noProxy != nullptr) ::setenv("no_proxy", row.noProxy, 1);
    const std::size_t before = proxy.Log().size();
    Text address = "http://" + server.authority() + "/";
    EXPECT_EQ(TextOf(client.WebAccess(address, {.proxy = system})), "page") << row.name;
    ::unsetenv(row.name);
    ::unsetenv("no_proxy");
    EXPECT_EQ(proxy.Log().size(), before + (row.throughProxy ? 1 : 0)) << row.name;
  }
}

// A page beyond 8 MiB and a timed answer beyond 64 MiB are failed reads.
TEST_F(CurlStackTest, ABodyBeyondItsCapIsAFailedRead) {
  LoopbackServer server([](const std::string& request, LoopbackServer::Connection& c) {
    const std::size_t size =
        (request.rfind("GET /page ", 0) == 0 ? std::size_t{8} << 20 : std::size_t{64} << 20) + 1;
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n");
    const std::string block(1 << 20, 'z');
    for (std::size_t sent = 0; sent < size; sent += block.size()) {
      if (!c.Write(std::string_view(block).substr(0, std::min(block.size(), size - sent)))) return;
    }
  });
  Text page = server.authority() + "/page";
  RequestFailure failure = RequestFailure::kNone;
  EXPECT_TRUE(client.WebAccess(page, {.failure = &failure}).empty());
  EXPECT_EQ(failure, RequestFailure::kTooLarge);
  Text timed = server.authority() + "/timed";
  failure = RequestFailure::kNone;
  EXPECT_TRUE(client.TimedWebAccess(timed, {.timeoutSeconds = 30, .failure = &failure}).empty());
  EXPECT_EQ(failure, RequestFailure::kTooLarge);
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
  EXPECT_EQ(CurlStackOptions{}.stallSeconds, 60);
  EXPECT_EQ(CurlStackOptions{}.connectTimeoutSeconds, 60);
  LoopbackServer server([](const std::string&, LoopbackServer::Connection& c) { c.HoldOpen(); });
  CurlHttpStack impatient(CurlStackOptions{.stallSeconds = 1});
  WebClient one(impatient, pump, windows);
  Text url = server.authority() + "/";
  Text responseHeaders;
  RequestFailure failure = RequestFailure::kNone;
  EXPECT_TRUE(
      one.WebAccess(url, {.responseHeaders = &responseHeaders, .failure = &failure}).empty());
  EXPECT_EQ(responseHeaders, std::string(2048, ' '));
  EXPECT_EQ(failure, RequestFailure::kTimedOut);
  server.Stop();
}

// The stored cookies go out on a whole line of their own, however long the
// address: from about 8,000 bytes on, libcurl 7.88's own line came out as
// "Cookie: " with no cookie and no line end, swallowing the Accept line.
TEST_F(CurlStackTest, StoredCookiesGoOutWholeWithALongAddress) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("page")));
  SharedStack().SetCookie("http://127.0.0.1", "sid", "s1; path=/");
  for (const std::size_t length : {100u, 8100u, 16000u}) {
    Text url = server.authority() + "/file/1?x=";
    url += std::string(length - url.size() - 7, 'a');
    EXPECT_EQ(TextOf(client.WebAccess(url)), "page") << length;
  }
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const std::string& request : requests) {
    EXPECT_NE(request.find("\r\nCookie: sid=s1\r\nAccept: image/gif, "), std::string::npos)
        << request.size();
  }
}

// Cookies set along a redirect belong to the host that set them: the link
// check and the engine calls leave them to the stack, never under the
// first host of the chain.
TEST_F(CurlStackTest, ACallKeepsCookiesUnderTheHostThatSetThem) {
  LoopbackServer target(
      LoopbackServer::Answer(HttpResponse("file", "Set-Cookie: t=2; path=/\r\n")));
  const std::string location = "http://localhost:" + std::to_string(target.port()) + "/file";
  LoopbackServer first(LoopbackServer::Answer(
      HttpResponse("", "Location: " + location + "\r\nSet-Cookie: f=1; path=/\r\n", "302 Found")));
  HttpCall call;
  call.address = "http://" + first.authority() + "/get";
  call.storedCookies = true;
  call.followRedirects = true;
  const HttpCallResult result = PerformHttpCall(SharedStack(), PlatformThreads(), call);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(result.body, "file");
  // Netscape lines: domain, subdomains, path, secure, expiry, name, value.
  std::vector<std::string> kept;
  for (const std::string& line : ProcessCookieStore().List()) {
    std::vector<std::string> field(1);
    for (const char c : line) {
      if (c == '\t') {
        field.emplace_back();
      } else {
        field.back().push_back(c);
      }
    }
    ASSERT_EQ(field.size(), 7u) << line;
    kept.push_back(field[0] + " " + field[5] + "=" + field[6]);
  }
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{"127.0.0.1 f=1", "localhost t=2"}));
}

TEST_F(CurlStackTest, ARedirectLoopEndsAtTheTwentiethRedirect) {
  LoopbackServer loop(
      LoopbackServer::Answer(HttpResponse("again", "Location: /loop\r\n", "302 Found")));
  Text url = loop.authority() + "/loop";
  RequestFailure failure = RequestFailure::kNone;
  EXPECT_EQ(TextOf(client.WebAccess(url, {.failure = &failure})), "again");
  EXPECT_EQ(failure, RequestFailure::kRedirectLoop);
  EXPECT_EQ(loop.requests().size(), 21u);
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
