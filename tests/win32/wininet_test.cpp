// The two request operations over WinInet against the demo service, whose
// address the harness passes in SORREL_TEST_SIM_URL ("http://127.0.0.1:N").
// The service's /__test/echo answers with the request exactly as received.
// Exchanges pinned byte for byte are under tests/data/cases.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which the headers below bring in.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/http_stack_wininet.h"
#include "http/web_access.h"
#include "support/event_pump.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "text/codepage.h"
#include "text/decode.h"

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
  RequestFailure failure = RequestFailure::kNone;
  EXPECT_TRUE(web_.WebAccess(url, {.failure = &failure}).empty());
  EXPECT_EQ(failure, RequestFailure::kUnreachable);
  Text timed = "http://127.0.0.1:1/nothing";
  failure = RequestFailure::kNone;
  EXPECT_TRUE(web_.TimedWebAccess(timed, {.timeoutSeconds = 20, .failure = &failure}).empty());
  EXPECT_EQ(failure, RequestFailure::kUnreachable);
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

// WinInet keeps the cookies on Windows, also those the request operations
// hand it from each Set-Cookie line: a server sets them for its own host or
// a domain above it only.
TEST(WinInetCookies, AServerSetsCookiesForItselfOnly) {
  WinInetHttpStack stack;
  const struct {
    const char* from;
    const char* data;
    const char* to;
  } tossed[] = {
      {"http://127.0.0.1", "1; domain=.victim.example; path=/", "http://www.victim.example/"},
      {"http://127.0.0.1", "1; domain=com; path=/", "http://a.com/"},
      {"http://evil.example", "1; domain=victim.example; path=/", "http://victim.example/"},
      {"http://a.evil.example", "1; domain=example; path=/", "http://b.example/"},
      {"http://127.0.0.1", "1; domain=0.0.1; path=/", "http://1.0.0.1/"},
  };
  for (const auto& c : tossed) {
    SCOPED_TRACE(c.data);
    stack.SetCookie(c.from, "tossed", c.data);
    EXPECT_EQ(stack.CookieLine(c.to), "");
  }
  EXPECT_TRUE(stack.SetCookie("http://a.own.example", "kept", "1; domain=own.example; path=/"));
  EXPECT_EQ(stack.CookieLine("http://b.own.example/"), "kept=1");
}

}  // namespace
}  // namespace sorrel
