// The two request operations against servers that misbehave: late, slow,
// endless, oversized, redirecting, refusing or dying. Each case checks the
// sound outcome and that the caller kept processing its events.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "fault_harness.h"
#include "http/request_steps.h"
#include "http/web_access.h"
#include "test_helpers/loopback_server.h"
#include "test_helpers/sim_process.h"
#include "text/codepage.h"

namespace sorrel::test {
namespace {

Text TimeoutText() {
  return Utf8ToGbk(
      "超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时返回＂的值设置长一些"
      "。");
}

// The bytes of the sim's /__test/bytes endpoint.
bool IsTestBytesPrefix(const ByteSet& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != ((i * 131 + 7) & 0xFF)) return false;
  }
  return true;
}

class RequestFaults : public ::testing::Test {
 protected:
  void SetUp() override { ProcessCookieStore().Clear(); }

  // Runs `call` between Begin and End of the pump and checks the longest gap.
  template <typename Call>
  auto Live(Call&& call) {
    pump.Begin();
    auto result = call();
    const milliseconds gap = pump.End();
    EXPECT_LT(gap, kLivenessBound) << "the caller went " << gap.count() << " ms without events, "
                                   << pump.maxGapAt().count() << " ms after the start";
    return result;
  }

  GapPump pump;
  SilentWindows windows;
  WebClient client{Stack(), pump, windows};
};

TEST_F(RequestFaults, SlowHeadersAreAwaitedByThePageRequestAndTimeTheTimedOneOut) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();

  // Longer than the liveness bound, so that a blocked caller would show.
  Text url = sim.url("/file/83264445?fault=delay:2000");
  const Text page = Live([&] { return TextOf(client.WebAccess(url)); });
  EXPECT_NE(page.find("vfcode"), Text::npos);
  EXPECT_GT(pump.calls, 50);

  Text slow = sim.url("/file/83264445?fault=delay:4000");
  Text headers = "untouched";
  const auto start = Clock::now();
  const ByteSet answer = Live([&] {
    return client.TimedWebAccess(slow, {.timeoutSeconds = 1, .responseHeaders = &headers});
  });
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(TextOf(answer), TimeoutText());
  EXPECT_EQ(headers, "untouched");
  // The limit is counted on a whole-millisecond tick clock, so it may end up
  // to one millisecond before the second has passed on a finer one.
  EXPECT_GE(elapsed, milliseconds(999));
  EXPECT_LT(elapsed, milliseconds(3000));
}

TEST_F(RequestFaults, TricklingBodyArrivesWhole) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  Text url = sim.url("/__test/bytes?n=3000&fault=trickle:3");
  const ByteSet page = Live([&] { return client.WebAccess(url); });
  EXPECT_EQ(page.size(), 3000u);
  EXPECT_TRUE(IsTestBytesPrefix(page));

  Text timedUrl = sim.url("/__test/bytes?n=3000&fault=trickle:3");
  const ByteSet timed =
      Live([&] { return client.TimedWebAccess(timedUrl, {.timeoutSeconds = 10}); });
  EXPECT_EQ(timed.size(), 3000u);
  EXPECT_TRUE(IsTestBytesPrefix(timed));
}

TEST_F(RequestFaults, NeverEndingBodyEndsAsATimeOutOrAtTheBodyCap) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  Text url = sim.url("/file/83264445?fault=endless");
  EXPECT_EQ(TextOf(Live([&] { return client.TimedWebAccess(url, {.timeoutSeconds = 1}); })),
            TimeoutText());

  // A fast body without a length meets the page's cap first, a slow one
  // the page's time limit.
  std::atomic<long long> sent{0};
  LoopbackServer endless([&](const std::string&, LoopbackServer::Connection& c) {
    if (!c.Write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n")) return;
    const std::string filler(64 * 1024, 'x');
    while (c.Write(filler)) sent += static_cast<long long>(filler.size());
  });
  Text pageUrl = endless.authority() + "/endless";
  RequestFailure failure = RequestFailure::kNone;
  EXPECT_TRUE(Live([&] { return client.WebAccess(pageUrl, {.failure = &failure}); }).empty());
  EXPECT_EQ(failure, RequestFailure::kTooLarge);
  EXPECT_GE(sent.load(), static_cast<long long>(kMaxPageBytes) - 64 * 1024);
  EXPECT_LT(sent.load(), static_cast<long long>(kMaxPageBytes) + (16LL << 20));
  endless.Stop();

  Text slowUrl = sim.url("/file/83264445?fault=endless");
  const auto start = Clock::now();
  EXPECT_TRUE(Live([&] {
                return client.WebAccess(slowUrl, {.failure = &failure, .limitMs = 1500});
              }).empty());
  EXPECT_EQ(failure, RequestFailure::kTimedOut);
  EXPECT_LT(Clock::now() - start, milliseconds(5000));
}

TEST_F(RequestFaults, GigabyteBodyStopsAtTheCapWithoutHoldingIt) {
  constexpr long long kClaimed = 1LL << 30;
  std::atomic<long long> sent{0};
  LoopbackServer server([&](const std::string&, LoopbackServer::Connection& c) {
    if (!c.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kClaimed) + "\r\n\r\n")) {
      return;
    }
    const std::string block(256 * 1024, '\x5a');
    for (long long n = 0; n < kClaimed && c.Write(block);
         n += static_cast<long long>(block.size())) {
      sent += static_cast<long long>(block.size());
    }
  });
  const long peakBefore = PeakResidentKb();
  Text url = server.authority() + "/big";
  EXPECT_TRUE(Live([&] { return client.WebAccess(url); }).empty());
  Text timedUrl = server.authority() + "/big";
  EXPECT_TRUE(
      Live([&] { return client.TimedWebAccess(timedUrl, {.timeoutSeconds = 60}); }).empty());
  server.Stop();

  // Reading stopped near the cap, well short of the claimed size.
  EXPECT_LT(sent.load(), 2 * (static_cast<long long>(kMaxTimedBodyBytes) + (32LL << 20)));
  EXPECT_LT(PeakResidentKb() - peakBefore, kMemoryScale * 512 * 1024) << "kB more at peak";
}

TEST_F(RequestFaults, HeaderBlockBeyond2KbKeepsItsCookies) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  Text url = sim.url("/file/83264445?fault=big-headers");
  Text headers;
  Live([&] { return client.WebAccess(url, {.responseHeaders = &headers}); });
  EXPECT_GT(headers.size(), 2048u);
  EXPECT_NE(headers.find("Set-Cookie: sorrel_sid="), Text::npos);
  int stored = 0;
  bool session = false;
  for (const std::string& line : ProcessCookieStore().List()) {
    stored += line.find("\tsim_pad") != std::string::npos;
    session = session || line.find("\tsorrel_sid\t") != std::string::npos;
  }
  EXPECT_EQ(stored, 40);
  EXPECT_TRUE(session);

  ProcessCookieStore().Clear();
  Text timedUrl = sim.url("/file/83264445?fault=big-headers");
  Text cookies;
  Live([&] {
    return client.TimedWebAccess(timedUrl, {.timeoutSeconds = 10, .responseCookies = &cookies});
  });
  EXPECT_NE(cookies.find("sorrel_sid="), Text::npos);
  EXPECT_NE(cookies.find("sim_pad39=p"), Text::npos) << cookies;
}

TEST_F(RequestFaults, ThousandSetCookieLinesAreAllStored) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  Text url = sim.url("/__test/cookies?n=1000&size=8");
  Live([&] { return client.WebAccess(url); });
  EXPECT_EQ(ProcessCookieStore().List().size(), 1000u);

  ProcessCookieStore().Clear();
  Text cookies;
  Text timedUrl = sim.url("/__test/cookies?n=1000&size=8");
  Live([&] {
    return client.TimedWebAccess(timedUrl, {.timeoutSeconds = 10, .responseCookies = &cookies});
  });
  EXPECT_EQ(std::count(cookies.begin(), cookies.end(), ';'), 1000);
  EXPECT_NE(cookies.find("c1000=vvvvvvvv;"), Text::npos);
  EXPECT_EQ(ProcessCookieStore().List().size(), 1000u);
}

TEST_F(RequestFaults, RedirectToHttpsNeedsAVerifiedCertificate) {
  const test::TestCertificate cert = test::MakeTestCertificate();
  ASSERT_TRUE(cert.ok);
  LoopbackServer secure(LoopbackServer::Answer(HttpResponse("secret")), &cert);
  const std::string location = "https://" + secure.authority() + "/s";
  LoopbackServer plain(
      LoopbackServer::Answer(HttpResponse("moved", "Location: " + location + "\r\n", "302 Found")));

  // The system's trust store does not know the test certificate.
  Text url = plain.authority() + "/r";
  EXPECT_TRUE(Live([&] { return client.WebAccess(url); }).empty());
  Text timedUrl = plain.authority() + "/r";
  EXPECT_TRUE(Live([&] { return client.TimedWebAccess(timedUrl, {.timeoutSeconds = 5}); }).empty());
  EXPECT_TRUE(secure.requests().empty());

  CurlHttpStack trusting(CurlStackOptions{.caFile = cert.certFile});
  WebClient trusted(trusting, pump, windows);
  Text again = plain.authority() + "/r";
  EXPECT_EQ(TextOf(Live([&] { return trusted.WebAccess(again); })), "secret");
  Text timedAgain = plain.authority() + "/r";
  EXPECT_EQ(TextOf(Live([&] { return trusted.TimedWebAccess(timedAgain, {.timeoutSeconds = 5}); })),
            "secret");

  // The sim's redirect names its own plain port under https: the server
  // waits for a request line that never comes, and the stack's connection
  // time-out (60 s by default, 2 s here) ends the handshake.
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  CurlHttpStack impatient(CurlStackOptions{.connectTimeoutSeconds = 2});
  WebClient shortWait(impatient, pump, windows);
  Text simUrl = sim.url("/file/83264445?fault=redirect-https");
  EXPECT_TRUE(Live([&] { return shortWait.WebAccess(simUrl); }).empty());
}

TEST_F(RequestFaults, RefusedConnectionGivesEmptyResultsAtOnce) {
  const std::string authority = "127.0.0.1:" + std::to_string(ClosedPort());
  Text url = authority + "/file/1";
  EXPECT_TRUE(Live([&] { return client.WebAccess(url); }).empty());
  Text headers = "untouched";
  Text timedUrl = authority + "/file/1";
  const ByteSet timed = Live([&] {
    return client.TimedWebAccess(timedUrl, {.timeoutSeconds = 10, .responseHeaders = &headers});
  });
  EXPECT_TRUE(timed.empty()) << "not a time-out: " << TextOf(timed).substr(0, 20);
  EXPECT_EQ(windows.notices, 0);
}

TEST_F(RequestFaults, ServerKilledInTheMiddleOfTheBodyLeavesWhatArrived) {
  constexpr size_t kBytes = 1'000'000;
  for (bool timed : {false, true}) {
    SCOPED_TRACE(timed ? "timed request" : "page request");
    SimProcess sim({"--test-mode"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const pid_t pid = sim.pid();
    std::thread killer([pid] {
      std::this_thread::sleep_for(milliseconds(400));
      ::kill(pid, SIGKILL);
    });
    Text url = sim.url("/__test/bytes?n=" + std::to_string(kBytes) + "&fault=trickle:1");
    const ByteSet body = Live([&] {
      return timed ? client.TimedWebAccess(url, {.timeoutSeconds = 20}) : client.WebAccess(url);
    });
    killer.join();
    EXPECT_GT(body.size(), 0u);
    EXPECT_LT(body.size(), kBytes);
    EXPECT_TRUE(IsTestBytesPrefix(body));
  }

  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  Text url = sim.url("/__test/bytes?n=10000&fault=close-mid-body");
  EXPECT_EQ(Live([&] { return client.WebAccess(url); }).size(), 5000u);
}

TEST_F(RequestFaults, HundredAbandonedTimedRequestsThenANormalOne) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  // One request first, so that threads a runtime starts once are running.
  Text first = sim.url("/file/83264445");
  ASSERT_NE(TextOf(client.TimedWebAccess(first, {.timeoutSeconds = 10})).find("vfcode"),
            Text::npos);
  std::this_thread::sleep_for(milliseconds(300));
  const long threadsBefore = ThreadCount();
  for (int i = 0; i < 100; ++i) {
    Text url = sim.url("/file/83264445?fault=delay:1500&n=" + std::to_string(i));
    ASSERT_EQ(TextOf(Live([&] { return client.TimedWebAccess(url, {.timeoutSeconds = 0}); })),
              TimeoutText())
        << i;
  }
  Text url = sim.url("/file/83264445");
  const Text page =
      TextOf(Live([&] { return client.TimedWebAccess(url, {.timeoutSeconds = 10}); }));
  EXPECT_NE(page.find("vfcode"), Text::npos);
  // The abandoned workers finish on their own once the late answers come.
  EXPECT_TRUE(ThreadsSettleTo(threadsBefore, milliseconds(15000)))
      << ThreadCount() << " threads, " << threadsBefore << " before";
}

}  // namespace
}  // namespace sorrel::test
