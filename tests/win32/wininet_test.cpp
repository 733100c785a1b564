// The two request operations over WinInet against the demo service, whose
// address the harness passes in SORREL_TEST_SIM_URL ("http://127.0.0.1:N").
// The service's /__test/echo answers with the request exactly as received.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which the headers below bring in.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/decode.h"
#include "http/web_access.h"
#include "http/wininet_stack.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "text/codepage.h"
#include "text/events.h"

namespace sorrel {
namespace {

class WinInetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* url = std::getenv("SORREL_TEST_SIM_URL");
    if (url == nullptr || *url == '\0') GTEST_SKIP() << "SORREL_TEST_SIM_URL names no demo service";
    base_ = url;
  }

  Text Url(const char* path) const { return base_ + path; }
  Text HostAndPort() const { return base_.substr(7); }

  // The request the service received, as its echo endpoint shows it.
  Text Echo(const Text& query = "") {
    Text url = Url("/__test/echo") + query;
    return web_.GetPageText(url);
  }

  Text base_;
  WinInetHttpStack stack_;
  test::RecordingWindows windows_;
  WebClient web_{stack_, NoEventPump(), windows_};
};

bool Has(const Text& text, const Text& part) { return text.find(part) != Text::npos; }

TEST_F(WinInetTest, PageRequestNormalisesTheAddressAndSendsTheDefaultHeaders) {
  Text url = "  " + HostAndPort() + "/__test/echo  ";
  const Text request = TextOf(web_.WebAccess(url));
  EXPECT_EQ(url, Url("/__test/echo"));
  ASSERT_TRUE(Has(request, "GET /__test/echo HTTP/1.1\r\n")) << request;
  for (const Text& line : {
           Text("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"),
           Text("Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
                "application/x-shockwave-flash, application/vnd.ms-excel, "
                "application/vnd.ms-powerpoint, application/msword, */*\r\n"),
           "Referer: " + url + "\r\n",
           Text("Accept-Language: zh-cn\r\n"),
       }) {
    EXPECT_TRUE(Has(request, line)) << line << " missing from\n" << request;
  }
}

TEST_F(WinInetTest, FilePageDecodesAndItsCookieTravelsWithLaterRequests) {
  Text url = Url("/file/83264445");
  Text responseHeaders;
  const Text page = TextOf(web_.WebAccess(url, {.responseHeaders = &responseHeaders}));
  EXPECT_NE(Find(UrlDecode(page), Utf8ToGbk("输入上方")), -1);
  EXPECT_EQ(responseHeaders.rfind("HTTP/1.1 200", 0), 0u) << responseHeaders;
  EXPECT_TRUE(Has(responseHeaders, "\r\nSet-Cookie: sorrel_sid=")) << responseHeaders;
  EXPECT_EQ(responseHeaders.substr(responseHeaders.size() - 4), "\r\n\r\n");

  const Text request = Echo();
  EXPECT_TRUE(Has(request, "sorrel_sid=")) << request;
}

TEST_F(WinInetTest, PagePostSendsTheFormBody) {
  Text url = Url("/__test/echo");
  const Text request = TextOf(web_.WebAccess(url, {.method = 1, .postData = "a=1&b=%E4"}));
  EXPECT_TRUE(Has(request, "POST /__test/echo HTTP/1.1\r\n")) << request;
  EXPECT_TRUE(Has(request, "Content-Type: application/x-www-form-urlencoded\r\n")) << request;
  EXPECT_TRUE(Has(request, "Content-Length: 9\r\n")) << request;
  EXPECT_EQ(request.substr(request.size() - 9), "a=1&b=%E4");
}

TEST_F(WinInetTest, HeaderBlocksBeyondTheFirstBufferAreReadWhole) {
  Text url = Url("/__test/cookies?n=40&size=60");
  Text responseHeaders;
  web_.WebAccess(url, {.responseHeaders = &responseHeaders});
  EXPECT_GT(responseHeaders.size(), 2048u);
  EXPECT_TRUE(Has(responseHeaders, "Set-Cookie: c40=")) << responseHeaders.size();
  EXPECT_EQ(responseHeaders.find(' '), 8u) << "a block of spaces means the header query failed";

  const Text request = Echo();
  EXPECT_TRUE(Has(request, "c1=" + Text(60, 'v'))) << request;
  EXPECT_TRUE(Has(request, "c40=" + Text(60, 'v'))) << request;
}

TEST_F(WinInetTest, TimedRequestFetchesAPictureWithItsHeaders) {
  Text url = Url("/randcodeV2.php?fid=83264445&rand=1");
  Text responseHeaders;
  const ByteSet picture =
      web_.TimedWebAccess(url, {.timeoutSeconds = 10, .responseHeaders = &responseHeaders});
  ASSERT_GT(picture.size(), 8u);
  EXPECT_EQ(ViewOf(picture).substr(0, 4), "\x89PNG");
  EXPECT_TRUE(Has(responseHeaders, "Content-Type: image/png")) << responseHeaders;
}

TEST_F(WinInetTest, TimedPostWithOwnCookieTextSendsOnlyThat) {
  Text page = Url("/file/83264445");
  web_.GetPageText(page);  // leaves a session cookie in the store
  Text url = Url("/__test/echo");
  const Text request = TextOf(web_.TimedWebAccess(url, {.method = 1,
                                                        .headers = "User-Agent: Probe/1.0 \r\n",
                                                        .postData = BytesOf("k=v"),
                                                        .cookies = "own=1"}));
  EXPECT_TRUE(Has(request, "POST /__test/echo HTTP/1.1\r\n")) << request;
  EXPECT_TRUE(Has(request, "Cookie: own=1\r\n")) << request;
  EXPECT_FALSE(Has(request, "sorrel_sid=")) << request;
  EXPECT_TRUE(Has(request, "User-Agent: Probe/1.0")) << request;
  EXPECT_TRUE(Has(request, "Content-Length: 3\r\n")) << request;
  EXPECT_EQ(request.substr(request.size() - 3), "k=v");
}

// WinInet's A functions take the program's bytes as they are, whatever the
// system's code page (the suite runs under a Chinese and a Western one):
// "验证码" in code page 936 in the request line, a header line, the cookie
// text and the body.
TEST_F(WinInetTest, CodePage936BytesGoOutUnchanged) {
  const Text chinese = "\xD1\xE9\xD6\xA4\xC2\xEB";
  Text url = Url("/__test/echo?q=") + chinese;
  const Text request = TextOf(web_.TimedWebAccess(url, {.method = 1,
                                                        .headers = "X-Name: " + chinese + "\r\n",
                                                        .postData = BytesOf("randcode=" + chinese),
                                                        .cookies = "name=" + chinese}));
  for (const Text& part : {Text("POST /__test/echo?q=\xD1\xE9\xD6\xA4\xC2\xEB HTTP/1.1\r\n"),
                           Text("\r\nX-Name: \xD1\xE9\xD6\xA4\xC2\xEB\r\n"),
                           Text("\r\nCookie: name=\xD1\xE9\xD6\xA4\xC2\xEB\r\n"),
                           Text("\r\n\r\nrandcode=\xD1\xE9\xD6\xA4\xC2\xEB")}) {
    EXPECT_TRUE(Has(request, part)) << GbkToUtf8(part) << " missing from\n" << request;
  }
  EXPECT_EQ(request.substr(request.size() - 15), "randcode=\xD1\xE9\xD6\xA4\xC2\xEB");
}

TEST_F(WinInetTest, TimedRequestWithoutCookieTextUsesTheStore) {
  Text page = Url("/file/83264445");
  web_.GetPageText(page);
  Text url = Url("/__test/echo");
  const Text request = TextOf(web_.TimedWebAccess(url));
  EXPECT_TRUE(Has(request, "sorrel_sid=")) << request;
}

TEST_F(WinInetTest, RedirectsAreFollowedUnlessRefused) {
  struct Case {
    std::optional<bool> allowRedirect;
    const char* status;
  };
  for (const Case& c : {Case{std::nullopt, "HTTP/1.1 200"}, Case{false, "HTTP/1.1 302"}}) {
    Text url = Url("/__test/echo?fault=redirect");
    Text responseHeaders;
    web_.TimedWebAccess(url,
                        {.responseHeaders = &responseHeaders, .allowRedirect = c.allowRedirect});
    EXPECT_EQ(responseHeaders.rfind(c.status, 0), 0u) << responseHeaders;
  }
}

TEST_F(WinInetTest, SlowAnswerEndsAsTimeOutAndLeavesTheOutputs) {
  Text url = Url("/__test/echo?fault=delay:4000");
  Text responseHeaders = "before";
  const ByteSet result =
      web_.TimedWebAccess(url, {.timeoutSeconds = 1, .responseHeaders = &responseHeaders});
  EXPECT_EQ(TextOf(result), Utf8ToGbk("超时返回，指定网站不能访问，或者你的网络出现问题，你可以把"
                                      "参数中的＂超时返回＂的值设置长一些。"));
  EXPECT_EQ(responseHeaders, "before");
}

TEST_F(WinInetTest, UnreachableServerGivesEmptyResults) {
  Text url = "http://127.0.0.1:1/nothing";
  EXPECT_TRUE(web_.WebAccess(url).empty());
  Text timed = "http://127.0.0.1:1/nothing";
  EXPECT_TRUE(web_.TimedWebAccess(timed, {.timeoutSeconds = 20}).empty());
}

// A loopback listener that keeps the first bytes of every connection and
// closes it: enough to tell a TLS handshake (a record starting 0x16) from a
// request in clear text, without waiting on a handshake that cannot finish.
class FirstBytesListener {
 public:
  FirstBytesListener() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener_, 8) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
      thread_ = std::thread([this] { Serve(); });
    }
  }
  ~FirstBytesListener() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    closesocket(listener_);
    if (started_) WSACleanup();
  }

  int port() const { return port_; }
  std::vector<std::string> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  // Polls, so that the destructor can end the loop.
  static bool Readable(SOCKET socket, long microseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait{0, microseconds};
    return select(0, &set, nullptr, nullptr, &wait) == 1;
  }

  void Serve() {
    while (!stopping_) {
      if (!Readable(listener_, 50'000)) continue;
      const SOCKET connection = accept(listener_, nullptr, nullptr);
      if (connection == INVALID_SOCKET) continue;
      char buffer[16] = {};
      const int count = Readable(connection, 900'000) ? recv(connection, buffer, 16, 0) : 0;
      closesocket(connection);
      std::lock_guard lock(mutex_);
      received_.emplace_back(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
    }
  }

  bool started_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> received_;
};

TEST_F(WinInetTest, SchemeInAnyLetterCaseAndHttpsFurtherOnGoInClearText) {
  const struct {
    Text given;
    Text completed;
    Text requestLine;
  } cases[] = {
      {"hTTp://" + HostAndPort() + "/__test/echo", "hTTp://" + HostAndPort() + "/__test/echo",
       "GET /__test/echo HTTP/1.1\r\n"},
      {HostAndPort() + "/__test/echo?next=https://x.test:8443/",
       "http://" + HostAndPort() + "/__test/echo?next=https://x.test:8443/",
       "GET /__test/echo?next=https://x.test:8443/ HTTP/1.1\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    Text page = c.given;
    const Text pageRequest = TextOf(web_.WebAccess(page));
    EXPECT_EQ(page, c.completed);
    EXPECT_EQ(pageRequest.rfind(c.requestLine, 0), 0u) << pageRequest;
    EXPECT_TRUE(Has(pageRequest, "\r\nReferer: " + c.completed + "\r\n")) << pageRequest;
    Text timed = c.given;
    const Text timedRequest = TextOf(web_.TimedWebAccess(timed, {.timeoutSeconds = 10}));
    EXPECT_EQ(timed, c.completed);
    EXPECT_EQ(timedRequest.rfind(c.requestLine, 0), 0u) << timedRequest;
  }
}

TEST_F(WinInetTest, HttpsInAnyLetterCaseStartsATlsHandshakeOnItsPort) {
  FirstBytesListener listener;
  ASSERT_NE(listener.port(), 0);
  for (const char* scheme : {"HTTPS://", "Https://"}) {
    const Text url = scheme + Text("127.0.0.1:") + std::to_string(listener.port()) + "/x";
    SCOPED_TRACE(url);
    Text page = url;
    EXPECT_TRUE(web_.WebAccess(page).empty());
    EXPECT_EQ(page, url);
    Text timed = url;
    EXPECT_TRUE(web_.TimedWebAccess(timed, {.timeoutSeconds = 10}).empty());
    EXPECT_EQ(timed, url);
  }
  const std::vector<std::string> received = listener.received();
  EXPECT_GE(received.size(), 4u);
  for (const std::string& bytes : received) {
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0], '\x16') << "not a TLS handshake: " << bytes;
  }
}

}  // namespace
}  // namespace sorrel
