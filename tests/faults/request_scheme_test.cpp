// The scheme rule of both request operations against real servers: the
// demo service for plain HTTP, and a loopback TLS server whose certificate
// the test makes for https written in any letter case.
#include <gtest/gtest.h>

#include "fault_harness.h"
#include "http/web_access.h"
#include "test_helpers/loopback_server.h"
#include "test_helpers/sim_process.h"

namespace sorrel::test {
namespace {

class RequestScheme : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.ok()) << sim.error(); }

  // Both operations on `given`; each checks the address it leaves behind.
  std::pair<Text, Text> BothOperations(WebClient& web, const Text& given, const Text& completed) {
    Text page = given;
    const Text pageBody = TextOf(web.WebAccess(page));
    EXPECT_EQ(page, completed);
    Text timed = given;
    const Text timedBody = TextOf(web.TimedWebAccess(timed, {.timeoutSeconds = 10}));
    EXPECT_EQ(timed, completed);
    return {pageBody, timedBody};
  }

  Text SimLog() {
    Text url = sim.url("/__test/log?clear=1");
    return TextOf(client.WebAccess(url));
  }

  SimProcess sim{{"--test-mode"}};
  GapPump pump;
  SilentWindows windows;
  WebClient client{Stack(), pump, windows};
};

TEST_F(RequestScheme, HttpsInAnyLetterCaseNeverReachesAPlainServerInClearText) {
  SimLog();
  // The sim waits for a request line that a TLS handshake never sends; the
  // stack's connection time-out ends the wait.
  CurlHttpStack impatient(CurlStackOptions{.connectTimeoutSeconds = 1});
  WebClient web(impatient, pump, windows);
  for (const char* scheme : {"HTTPS://", "Https://"}) {
    const Text url = scheme + Text("127.0.0.1:") + std::to_string(sim.port()) + "/__test/echo";
    SCOPED_TRACE(url);
    const auto [page, timed] = BothOperations(web, url, url);
    EXPECT_EQ(page, "");
    EXPECT_EQ(timed, "");
  }
  const Text log = SimLog();
  EXPECT_EQ(log.find("/__test/echo"), Text::npos) << log;
}

TEST_F(RequestScheme, HttpsInAnyLetterCaseGoesOverVerifiedTls) {
  const test::TestCertificate cert = test::MakeTestCertificate();
  ASSERT_TRUE(cert.ok);
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("secret")), &cert);
  CurlHttpStack trusting(CurlStackOptions{.caFile = cert.certFile});
  WebClient trusted(trusting, pump, windows);
  for (const char* scheme : {"https://", "HTTPS://", "Https://", "hTTPs://"}) {
    const Text url = scheme + server.authority() + "/s?back=https://x.test/";
    SCOPED_TRACE(url);
    EXPECT_EQ(BothOperations(trusted, url, url), std::make_pair(Text("secret"), Text("secret")));
  }
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 8u);
  for (const std::string& request : requests) {
    EXPECT_EQ(request.rfind("GET /s?back=https://x.test/ HTTP/1.1\r\n", 0), 0u) << request;
  }

  // Verification stays on: the system's trust store does not know the test
  // certificate, so nothing is sent.
  const Text url = "HTTPS://" + server.authority() + "/s";
  EXPECT_EQ(BothOperations(client, url, url), std::make_pair(Text(), Text()));
  EXPECT_EQ(server.requests().size(), 8u);
}

}  // namespace
}  // namespace sorrel::test
