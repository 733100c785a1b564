// The request operations over the libcurl stack against servers on
// 127.0.0.1, checked byte for byte on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "http/curl_stack.h"
#include "http/web_access.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/loopback_server.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

using test::HttpResponse;
using test::LoopbackServer;

const std::string kAccept =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
const std::string kPageAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
const std::string kTimedAgent =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)\r\n";

Text TimeoutText() {
  return Utf8ToGbk(
      "超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时返回＂的值设置长一些"
      "。");
}

int CountLines(const std::string& request, const std::string& prefix) {
  int count = 0;
  for (std::size_t at = request.find("\r\n" + prefix); at != request.npos;
       at = request.find("\r\n" + prefix, at + 2)) {
    ++count;
  }
  return count;
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

TEST_F(CurlStackTest, PageRequestSendsTheBlockAsComposed) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("hello")));
  ProcessCookieStore().Set("127.0.0.1", "stored", "1");
  Text url = " " + server.authority() + "/page?q=1 ";
  Text responseHeaders;
  const ByteSet body =
      client.WebAccess(url, {.cookies = "k=v; w=2", .responseHeaders = &responseHeaders});
  EXPECT_EQ(TextOf(body), "hello");
  EXPECT_EQ(responseHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0], "GET /page?q=1 HTTP/1.1\r\nHost: " + server.authority() + "\r\n" +
                                      kPageAgent + kAccept + "Referer: http://" +
                                      server.authority() +
                                      "/page?q=1\r\nAccept-Language: zh-cn\r\n"
                                      "Cookie: k=v; w=2\r\n\r\n");
}

TEST_F(CurlStackTest, TimedPostSendsFormLinesAndTheStoredCookies) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("ok")));
  ProcessCookieStore().Set("127.0.0.1", "sid", "abc; path=/");
  Text url = "http://" + server.authority() + "/guest_loginV2.php";
  client.TimedWebAccess(url, {.method = 1, .postData = BytesOf("a=1&b=2"), .timeoutSeconds = 5});
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "POST /guest_loginV2.php HTTP/1.1\r\nHost: " + server.authority() + "\r\n" +
                kTimedAgent + "Cookie: sid=abc\r\n" + kAccept + "Referer: " + url +
                "\r\nAccept-Language: zh-cn\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n\r\n"
                "a=1&b=2");
}

TEST_F(CurlStackTest, ALargeFormGoesOutAtOnceWithoutExpect) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("ok")));
  const std::string form = "f=" + std::string(3000, 'x');
  Text url = server.authority() + "/form";
  EXPECT_EQ(TextOf(client.WebAccess(url, {.method = 1, .postData = form})), "ok");
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string request = server.requests()[0];
  EXPECT_EQ(request.find("Expect"), std::string::npos) << request.substr(0, 600);
  EXPECT_EQ(CountLines(request, "Content-Length:"), 1);
  EXPECT_EQ(request.substr(request.size() - form.size()), form);
}

TEST_F(CurlStackTest, TimedRequestHonoursOwnAgentAndRefererMarker) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("ok")));
  Text url = server.authority() + "/p";
  client.TimedWebAccess(url,
                        {.headers = "User-Agent: Foo/2.0\r\nRefererNo\r\n", .timeoutSeconds = 5});
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string request = server.requests()[0];
  EXPECT_EQ(CountLines(request, "User-Agent:"), 1) << request;
  EXPECT_NE(request.find("\r\nUser-Agent: Foo/2.0\r\n"), std::string::npos) << request;
  EXPECT_EQ(CountLines(request, "Referer"), 0) << request;
  EXPECT_EQ(request.find("RefererNo"), std::string::npos);
}

TEST_F(CurlStackTest, CookiesOfPageAndPictureTravelWithTheLaterPost) {
  LoopbackServer server([](const std::string& request, LoopbackServer::Connection& c) {
    if (request.rfind("GET /file", 0) == 0) {
      c.Write(HttpResponse("page", "Set-Cookie: PHPSESSID=s1; path=/\r\n"));
    } else if (request.rfind("GET /captcha", 0) == 0) {
      c.Write(HttpResponse("gif", "Set-Cookie: code=c2\r\n"));
    } else {
      c.Write(HttpResponse("answer"));
    }
  });
  Text page = server.authority() + "/file/1";
  EXPECT_EQ(client.GetPageText(page), "page");
  Text picture = "http://" + server.authority() + "/captcha.php?7";
  EXPECT_EQ(TextOf(client.TimedWebAccess(picture, {.timeoutSeconds = 5})), "gif");
  Text login = "http://" + server.authority() + "/guest_loginV2.php";
  EXPECT_EQ(TextOf(client.TimedWebAccess(
                login, {.method = 1, .postData = BytesOf("x=1"), .timeoutSeconds = 5})),
            "answer");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string& post = requests[2];
  EXPECT_EQ(CountLines(post, "Cookie:"), 1) << post;
  EXPECT_NE(post.find("PHPSESSID=s1"), std::string::npos) << post;
  EXPECT_NE(post.find("code=c2"), std::string::npos) << post;
  EXPECT_EQ(ProcessCookieStore().List().size(), 2u);
}

TEST_F(CurlStackTest, OwnCookieTextKeepsTheStoreOutOfTheRequest) {
  // The redirect's cookie can only reach the store through the stack's own
  // handling, which a request with cookie text must not do.
  LoopbackServer server([](const std::string& request, LoopbackServer::Connection& c) {
    if (request.rfind("GET /start", 0) == 0) {
      c.Write(HttpResponse("", "Location: /end\r\nSet-Cookie: hop=1; path=/\r\n", "302 Found"));
    } else {
      c.Write(HttpResponse("end"));
    }
  });
  ProcessCookieStore().Set("127.0.0.1", "stored", "1; path=/");
  for (bool pageRequest : {true, false}) {
    Text url = server.authority() + "/start";
    const ByteSet body =
        pageRequest ? client.WebAccess(url, {.cookies = "mine=1"})
                    : client.TimedWebAccess(url, {.cookies = "mine=1", .timeoutSeconds = 5});
    EXPECT_EQ(TextOf(body), "end");
  }
  for (const std::string& request : server.requests()) {
    EXPECT_EQ(CountLines(request, "Cookie:"), 1) << request;
    EXPECT_NE(request.find("\r\nCookie: mine=1\r\n"), std::string::npos) << request;
  }
  const auto stored = ProcessCookieStore().List();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].find("stored"), std::string::npos);

  Text url = server.authority() + "/start";
  client.TimedWebAccess(url, {.timeoutSeconds = 5});
  EXPECT_EQ(ProcessCookieStore().List().size(), 2u);
}

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

TEST_F(CurlStackTest, FollowsRedirectsUnlessTold) {
  LoopbackServer server([](const std::string& request, LoopbackServer::Connection& c) {
    if (request.find(" /moved ") != std::string::npos) {
      c.Write(HttpResponse("moved", "Location: /final?x=1\r\n", "302 Found"));
    } else {
      c.Write(HttpResponse("final"));
    }
  });
  Text url = server.authority() + "/moved";
  Text headers;
  EXPECT_EQ(TextOf(client.TimedWebAccess(url, {.timeoutSeconds = 5, .responseHeaders = &headers})),
            "final");
  EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(TextOf(client.TimedWebAccess(
                url, {.timeoutSeconds = 5, .responseHeaders = &headers, .allowRedirect = false})),
            "moved");
  EXPECT_EQ(headers.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
  EXPECT_EQ(TextOf(client.WebAccess(url, {.method = 1, .postData = "a=1"})), "final");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[1].rfind("GET /final?x=1 HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(requests[3].rfind("POST /moved HTTP/1.1\r\n", 0), 0u);
  // RFC 9110 15.4.3: the POST turns into a GET without its body.
  EXPECT_EQ(requests[4].rfind("GET /final?x=1 HTTP/1.1\r\n", 0), 0u) << requests[4];
  EXPECT_EQ(requests[4].find("Content-"), std::string::npos) << requests[4];
}

TEST_F(CurlStackTest, HttpsGoesOverTlsAndATrustedCertificateIsNeeded) {
  const test::TestCertificate cert = test::MakeTestCertificate();
  ASSERT_TRUE(cert.ok);
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("secret", "Set-Cookie: t=1\r\n")),
                        &cert);
  CurlHttpStack trusting(CurlStackOptions{.caFile = cert.certFile});
  WebClient trusted(trusting, pump, windows);
  Text url = "https://" + server.authority() + "/s";
  EXPECT_EQ(TextOf(trusted.WebAccess(url)), "secret");
  EXPECT_EQ(TextOf(trusted.TimedWebAccess(url, {.timeoutSeconds = 5})), "secret");
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[0].rfind("GET /s HTTP/1.1\r\n", 0), 0u);

  Text again = url;
  EXPECT_TRUE(client.WebAccess(again).empty());
  EXPECT_TRUE(client.TimedWebAccess(again, {.timeoutSeconds = 5}).empty());
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(CurlStackTest, ALargeHeaderBlockIsReadWholeWithItsCookies) {
  const std::string padding = "X-Pad: " + std::string(3000, 'p') + "\r\n";
  LoopbackServer server(
      LoopbackServer::Answer(HttpResponse("b", padding + "Set-Cookie: late=1; path=/\r\n")));
  Text url = server.authority() + "/";
  Text pageHeaders;
  client.WebAccess(url, {.responseHeaders = &pageHeaders});
  Text timedHeaders;
  Text timedCookies;
  client.TimedWebAccess(
      url,
      {.timeoutSeconds = 5, .responseHeaders = &timedHeaders, .responseCookies = &timedCookies});
  const std::string expected =
      "HTTP/1.1 200 OK\r\n" + padding + "Set-Cookie: late=1; path=/\r\nContent-Length: 1\r\n\r\n";
  EXPECT_EQ(pageHeaders, expected);
  EXPECT_EQ(timedHeaders, expected);
  EXPECT_EQ(timedCookies, "late=1;");
  EXPECT_EQ(ProcessCookieStore().List().size(), 1u);
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

TEST(CurlCookieStoreTest, SetCookieKeepsOneEntryPerNameHostAndPath) {
  CurlCookieStore& store = ProcessCookieStore();
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
