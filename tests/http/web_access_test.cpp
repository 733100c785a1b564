#include "http/web_access.h"

#include <gtest/gtest.h>

#include "one_call.h"
#include "test_helpers/fake_stack.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

using test::FakeCookie;
using test::FakeHttpStack;
using test::kAccept;
using test::kLanguage;

const Text kFullWidthSpace = "\xA1\xA1";

class WebAccessTest : public ::testing::Test, protected test::PageCall {};

struct AddressCase {
  Text given;
  Text normalised;
  Text connect;
  Text request;
};

TEST_F(WebAccessTest, NormalisesTheAddressAndUsesItAsReferer) {
  const AddressCase cases[] = {
      {"  example.com/a?b=1 " + kFullWidthSpace, "http://example.com/a?b=1",
       "connect example.com:80", "request GET /a?b=1 HTTP/1.1 80000000"},
      // The scheme is read without regard to letter case, and only at the start.
      {"HTTP://Example.com:81/x", "HTTP://Example.com:81/x", "connect example.com:81",
       "request GET /x HTTP/1.1 80000000"},
      {"hTTp://Example.com/x", "hTTp://Example.com/x", "connect example.com:80",
       "request GET /x HTTP/1.1 80000000"},
      {"HTTPS://Secure.example/p", "HTTPS://Secure.example/p", "connect secure.example:443",
       "request GET /p HTTP/1.1 80800000"},
      {"Https://secure.example:8443/p", "Https://secure.example:8443/p",
       "connect secure.example:8443", "request GET /p HTTP/1.1 80800000"},
      {"example.com/p?next=https://b.c/", "http://example.com/p?next=https://b.c/",
       "connect example.com:80", "request GET /p?next=https://b.c/ HTTP/1.1 80000000"},
      {"http://Example.COM:8080", "http://Example.COM:8080", "connect example.com:8080",
       "request GET / HTTP/1.1 80000000"},
      // An https address goes over TLS, on 443 or its own port.
      {"https://secure.example/p", "https://secure.example/p", "connect secure.example:443",
       "request GET /p HTTP/1.1 80800000"},
      {"https://secure.example:8443/p", "https://secure.example:8443/p",
       "connect secure.example:8443", "request GET /p HTTP/1.1 80800000"},
  };
  for (const AddressCase& c : cases) {
    test::PageCall one;
    Text url = c.given;
    one.client.WebAccess(url);
    EXPECT_EQ(url, c.normalised);
    EXPECT_EQ(one.stack.sentHeaders(), kAccept + "Referer: " + c.normalised + "\r\n" + kLanguage);
    const auto calls = one.stack.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[1], c.connect) << c.given;
    EXPECT_EQ(calls[2], c.request) << c.given;
  }
}

const std::vector<std::string> kInOrder = {
    "open Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)|",
    "connect host:80",
    "request GET / HTTP/1.1 80000000",
    "send",
    "read 1024",
    "read 1024",
    "read 1024",
    "query 2048",
    "close request",
    "close connection",
    "close session"};

// On the calling thread over a stack that bounds its exchanges, on a
// worker over one that cannot: the same calls either way.
TEST_F(WebAccessTest, CallsTheStackInOrderAndReadsInKilobyteChunks) {
  for (const bool limits : {true, false}) {
    test::PageCall one;
    one.stack.limits = limits;
    one.stack.script.body = std::string(1500, 'x');
    one.stack.script.rawHeaders = "HTTP/1.1 200 OK\r\n\r\n";
    Text url = "host/";
    RequestFailure failure = RequestFailure::kTimedOut;
    EXPECT_EQ(one.client.WebAccess(url, {.failure = &failure}).size(), 1500u);
    EXPECT_EQ(failure, RequestFailure::kNone);
    EXPECT_EQ(one.stack.Calls(), kInOrder) << limits;
    // The stack gets the pump only on the calling thread; a worker's caller
    // processes the events itself while it waits.
    EXPECT_EQ(one.stack.pumpGiven(), limits);
    EXPECT_GE(one.pump.count, limits ? 3 : 1);
  }
}

TEST_F(WebAccessTest, NamesWhyThePageIsMissing) {
  struct Case {
    const char* name;
    void (*arrange)(test::FakeScript&);
    RequestFailure failure;
    std::size_t bodySize;
  };
  const Case cases[] = {
      {"no connection", [](test::FakeScript& s) { s.failConnect = true; },
       RequestFailure::kUnreachable, 0},
      {"beyond the cap",
       [](test::FakeScript& s) { s.body.assign((std::size_t{8} << 20) + 1, 'x'); },
       RequestFailure::kTooLarge, 0},
      {"at the cap", [](test::FakeScript& s) { s.body.assign(std::size_t{8} << 20, 'x'); },
       RequestFailure::kNone, std::size_t{8} << 20},
      {"shorter than declared",
       [](test::FakeScript& s) {
         s.body = "half";
         s.rawHeaders = "HTTP/1.1 200 OK\r\ncontent-length:  8\r\n\r\n";
       },
       RequestFailure::kCut, 4},
      {"as long as declared",
       [](test::FakeScript& s) {
         s.body = "whole";
         s.rawHeaders = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
       },
       RequestFailure::kNone, 5},
  };
  for (const Case& c : cases) {
    test::PageCall one;
    c.arrange(one.stack.script);
    Text url = "h/";
    RequestFailure failure = RequestFailure::kNone;
    EXPECT_EQ(one.client.WebAccess(url, {.failure = &failure}).size(), c.bodySize) << c.name;
    EXPECT_EQ(failure, c.failure) << c.name;
  }
}

// Both stacks give up after 60 s without a byte; a page has 120 s in all.
TEST_F(WebAccessTest, APageHasTwoMinutesAndNothingMayStallAMinute) {
  EXPECT_EQ(kSilenceLimitMs, 60000u);
  for (const bool limits : {true, false}) {
    test::PageCall one;
    one.stack.limits = limits;
    Text url = "h/";
    one.client.WebAccess(url);
    EXPECT_EQ(one.stack.limitMs(), 120000u) << limits;
    one.client.SetPageLimit(4000);
    one.client.WebAccess(url);
    EXPECT_EQ(one.stack.limitMs(), 4000u) << limits;
  }
}

TEST_F(WebAccessTest, RefusesAnAddressTooLongToSend) {
  const Text longest = "http://h/" + std::string(16384 - 9, 'a');
  for (const Text& given : {longest, longest + "a"}) {
    test::PageCall one;
    Text url = given;
    RequestFailure failure = RequestFailure::kNone;
    one.client.WebAccess(url, {.failure = &failure});
    const bool refused = given.size() > 16384;
    EXPECT_EQ(failure, refused ? RequestFailure::kBadAddress : RequestFailure::kNone);
    EXPECT_EQ(one.stack.Calls().empty(), refused);
  }
}

// A click that starts a newer request while this one waits ends this one:
// on the calling thread at its next wait, on a worker at once.
TEST_F(WebAccessTest, ANewerRequestEndsTheOneItReplaces) {
  for (const bool limits : {true, false}) {
    test::PageCall one;
    one.stack.limits = limits;
    one.stack.script.body = std::string(5000, 'x');
    const StopFlag stop = NewStopFlag();
    test::HookPump clicks([&] { stop->store(true); });
    WebClient client(one.stack, clicks, one.windows);
    Text url = "h/";
    Text headers = "X: 1\r\n";
    RequestFailure failure = RequestFailure::kNone;
    EXPECT_TRUE(
        client.WebAccess(url, {.headers = &headers, .failure = &failure, .stop = stop}).empty())
        << limits;
    EXPECT_EQ(failure, RequestFailure::kReplaced) << limits;
    EXPECT_EQ(headers, "X: 1\r\n") << limits;
  }
}

TEST_F(WebAccessTest, RefusesAnUnknownMethodWithANotice) {
  Text url = " example.com ";
  Text headers = "X: 1\r\n";
  Text responseHeaders = "before";
  EXPECT_TRUE(
      client.WebAccess(url, {.method = 2, .headers = &headers, .responseHeaders = &responseHeaders})
          .empty());
  ASSERT_EQ(windows.messages.size(), 1u);
  EXPECT_EQ(windows.messages[0],
            Utf8ToGbk("【网页_访问】命令的第二个【访问方式】参数有误,请返回修改"));
  EXPECT_TRUE(stack.Calls().empty());
  EXPECT_EQ(url, "example.com");
  EXPECT_EQ(headers, "X: 1\r\n");
  EXPECT_EQ(responseHeaders, "before");
}

struct BlockCase {
  const char* name;
  int method;
  Text headers;
  Text postData;
  Text cookies;
  Text expectedBlock;
  Text expectedBody;
};

TEST_F(WebAccessTest, ComposesTheHeaderBlock) {
  const Text referer = "Referer: http://h/p\r\n";
  const BlockCase cases[] = {
      {"get with cookies", 0, "", "", "a=1; b=2",
       kAccept + referer + kLanguage + "Cookie: a=1; b=2\r\n\r\n", ""},
      {"lower-case accept", 0, "accept: text/html\r\n", "", "",
       "accept: text/html\r\n" + referer + kLanguage, ""},
      {"own referer and language", 0, "Referer: x\r\nACCEPT-LANGUAGE: en\r\n", "", "",
       "Referer: x\r\nACCEPT-LANGUAGE: en\r\n" + kAccept, ""},
      {"post with data", 1, "", "u=1&v=2", "c=3",
       kAccept + referer + kLanguage + "Content-Type: application/x-www-form-urlencoded\r\n" +
           "Content-Length: 7\r\nCookie: c=3\r\n\r\n",
       "u=1&v=2"},
      {"post without data", 1, "", "", "", kAccept + referer + kLanguage, ""},
      {"get ignores post data", 0, "", "u=1", "", kAccept + referer + kLanguage, ""},
  };
  for (const BlockCase& c : cases) {
    test::PageCall one;
    Text url = "h/p";
    Text headers = c.headers;
    one.client.WebAccess(
        url,
        {.method = c.method, .headers = &headers, .postData = c.postData, .cookies = c.cookies});
    EXPECT_EQ(one.stack.sentHeaders(), c.expectedBlock) << c.name;
    EXPECT_EQ(headers, c.expectedBlock) << c.name;
    EXPECT_EQ(one.stack.sentBody(), c.expectedBody) << c.name;
  }
}

TEST_F(WebAccessTest, ReusedHeadersGetTheCookieAndBodyLinesAgain) {
  Text url = "h/p";
  Text headers;
  const WebAccessArgs args{.method = 1, .headers = &headers, .postData = "a=1", .cookies = "k=v"};
  client.WebAccess(url, args);
  client.WebAccess(url, args);
  const Text once =
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n"
      "Cookie: k=v\r\n\r\n";
  EXPECT_EQ(headers, kAccept + "Referer: http://h/p\r\n" + kLanguage + once + once);
}

TEST_F(WebAccessTest, StoresEveryCookieLineUnderTheHttpHost) {
  stack.script.rawHeaders =
      "HTTP/1.1 200 OK\r\nSet-Cookie: sid=abc; path=/; expires=Wed, 01 Jan 2031 00:00:00 GMT\r\n"
      "Content-Type: text/html\r\nset-cookie: lone\r\nSet-Cookie: =odd\r\n\r\n";
  Text url = "https://Shop.Example/x";
  Text responseHeaders;
  client.WebAccess(url, {.responseHeaders = &responseHeaders});
  EXPECT_EQ(responseHeaders, stack.script.rawHeaders);
  // Intended: every cookie is stored under "http://" and the host, also for
  // an https page.
  const std::vector<FakeCookie> expected = {
      {"http://shop.example", "sid", "abc; path=/; expires=Wed, 01 Jan 2031 00:00:00 GMT"},
      {"http://shop.example", "", "lone"},
      {"http://shop.example", "", "odd"}};
  EXPECT_EQ(stack.cookies(), expected);
}

TEST_F(WebAccessTest, ReadsAHeaderBlockLargerThanTheBuffer) {
  stack.script.rawHeaders =
      "HTTP/1.1 200 OK\r\nX-Filler: " + std::string(3000, 'f') + "\r\nSet-Cookie: big=1\r\n\r\n";
  Text url = "h/";
  Text responseHeaders;
  client.WebAccess(url, {.responseHeaders = &responseHeaders});
  EXPECT_EQ(responseHeaders, stack.script.rawHeaders);
  EXPECT_EQ(stack.cookies(), (std::vector<FakeCookie>{{"http://h", "big", "1"}}));
  const auto calls = stack.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      "query " + std::to_string(stack.script.rawHeaders.size() + 1)),
            calls.end());
}

TEST_F(WebAccessTest, WithoutAResponseTheHeaderTextIsTheBlankBuffer) {
  Text url = "h/";
  Text responseHeaders = "old";
  EXPECT_TRUE(client.WebAccess(url, {.responseHeaders = &responseHeaders}).empty());
  // Intended: the blank buffer stands for a missing header block.
  EXPECT_EQ(responseHeaders, std::string(2048, ' '));
  EXPECT_TRUE(stack.cookies().empty());
}

TEST_F(WebAccessTest, AFailedHandleClosesWhatWasOpenedAndLeavesOutputsAlone) {
  struct Case {
    void (*arrange)(test::FakeScript&);
    std::vector<std::string> closes;
  };
  const Case cases[] = {
      {[](test::FakeScript& s) { s.failOpen = true; }, {}},
      {[](test::FakeScript& s) { s.failConnect = true; }, {"close session"}},
      {[](test::FakeScript& s) { s.failRequest = true; }, {"close connection", "close session"}},
  };
  for (const Case& c : cases) {
    test::PageCall one;
    c.arrange(one.stack.script);
    Text url = "h/";
    Text headers = "X: 1\r\n";
    Text responseHeaders = "old";
    EXPECT_TRUE(
        one.client.WebAccess(url, {.headers = &headers, .responseHeaders = &responseHeaders})
            .empty());
    EXPECT_EQ(headers, "X: 1\r\n");
    EXPECT_EQ(responseHeaders, "old");
    EXPECT_EQ(test::CallsNamed(one.stack, "close"), c.closes);
  }
}

TEST_F(WebAccessTest, PassesTheProxyOnlyWhenItHasMoreThanSpaces) {
  Text url = "h/";
  client.WebAccess(url, {.proxy = " " + kFullWidthSpace});
  client.WebAccess(url, {.proxy = " 10.0.0.1:3128"});
  std::vector<std::string> proxies;
  for (const std::string& open : test::CallsNamed(stack, "open")) {
    proxies.push_back(open.substr(open.find('|')));
  }
  EXPECT_EQ(proxies, (std::vector<std::string>{"|", "| 10.0.0.1:3128"}));
}

TEST_F(WebAccessTest, ReturnsZeroBytesWholeButTextAndConversionsStopAtThem) {
  stack.script.body = std::string("ab\0cd", 5);
  Text url = "h/";
  EXPECT_EQ(client.WebAccess(url).size(), 5u);
  EXPECT_EQ(client.GetPageText(url), "ab");

  stack.script.body = "\xE4\xB8\xAD\xE6\x96\x87";  // "中文" in UTF-8
  EXPECT_EQ(TextOf(client.WebAccess(url, {.conversion = 1})), Utf8ToGbk("中文"));
}

}  // namespace
}  // namespace sorrel
