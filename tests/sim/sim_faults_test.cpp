// Each fault of the demo service does what its name says.
#include <gtest/gtest.h>

#include "curl_test_session.h"
#include "sim_test_util.h"
#include "test_helpers/sim_process.h"

namespace sorrel::test {
namespace {

using std::chrono::milliseconds;

class SimFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim_ = new SimProcess({"--test-mode"}); }
  static void TearDownTestSuite() { delete sim_; }
  void SetUp() override { ASSERT_TRUE(sim_->ok()) << sim_->error(); }

  static HttpResult Get(const std::string& path, RequestOptions options = {}) {
    return CurlSession().Get(sim_->url(path), options);
  }

  static SimProcess* sim_;
};

SimProcess* SimFaults::sim_ = nullptr;

TEST_F(SimFaults, DelayHoldsBackTheHeaders) {
  const HttpResult r = Get("/file/83264445?fault=delay:300");
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(r.Has(kPageMarker));
  EXPECT_GE(r.elapsed, milliseconds(300));

  const HttpResult late = Get("/file/83264445?fault=delay:3000", RequestOptions::Timeout(300));
  EXPECT_EQ(late.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_TRUE(late.headers.empty());
}

TEST_F(SimFaults, TrickleSendsTheBodyInSmallPieces) {
  const HttpResult r = Get("/__test/bytes?n=160&fault=trickle:20");
  ASSERT_EQ(r.code, CURLE_OK);
  ASSERT_EQ(r.body.size(), 160u);
  for (size_t i = 0; i < r.body.size(); ++i) {
    ASSERT_EQ(static_cast<unsigned char>(r.body[i]), (i * 131 + 7) & 0xFF) << i;
  }
  // Ten 16-byte pieces with a pause after each but the last.
  EXPECT_GE(r.elapsed, milliseconds(9 * 20));
  EXPECT_GE(r.writes, 2);
}

TEST_F(SimFaults, EndlessBodyNeverEnds) {
  const HttpResult normal = Get("/file/83264445");
  const HttpResult r = Get("/file/83264445?fault=endless", RequestOptions::Timeout(400));
  EXPECT_EQ(r.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(r.Header("Content-Length"), "");
  EXPECT_TRUE(r.Has(kPageMarker));
  EXPECT_GT(r.body.size(), normal.body.size());
}

TEST_F(SimFaults, BigHeaderBlockPutsTheSessionCookieLast) {
  const HttpResult r = Get("/file/83264445?fault=big-headers");
  EXPECT_EQ(r.status, 200);
  EXPECT_GT(r.headers.size(), 2048u);
  EXPECT_EQ(r.Header("Set-Cookie").rfind("sorrel_sid=", 0), 0u);
  EXPECT_NE(r.headers.find("Set-Cookie: sim_pad39=" + std::string(42, 'p') + ";"),
            std::string::npos);
  EXPECT_EQ(r.headers.find("Set-Cookie: sim_pad40="), std::string::npos);
}

TEST_F(SimFaults, HtmlCaptchaAnswersAPage) {
  const HttpResult r = Get("/randcodeV2.php?fid=83264445&fault=html-captcha&rand=1");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(r.body.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_TRUE(DecodePicture(r.body).isNull());
}

TEST_F(SimFaults, TruncatedPictureDoesNotDecode) {
  const HttpResult whole = Get("/randcodeV2.php?fid=1&rand=1");
  ASSERT_FALSE(DecodePicture(whole.body).isNull());
  const HttpResult r = Get("/randcodeV2.php?fid=1&fault=truncated-picture&rand=1");
  EXPECT_EQ(r.code, CURLE_OK);
  EXPECT_EQ(r.body.rfind("\x89PNG", 0), 0u);
  EXPECT_LT(r.body.size(), whole.body.size() * 3 / 4);
  EXPECT_EQ(r.body.find("IEND"), std::string::npos);
  EXPECT_TRUE(DecodePicture(r.body).isNull());
}

TEST_F(SimFaults, HugePictureClaims50000PixelsSquare) {
  for (const char* format : {"png", "jpeg", "gif", "bmp"}) {
    SCOPED_TRACE(format);
    const HttpResult r =
        Get(std::string("/randcodeV2.php?fid=1&picture=") + format + "&fault=huge-picture&rand=1");
    EXPECT_EQ(r.Header("Content-Type"), std::string("image/") + format);
    EXPECT_EQ(ClaimedSize(r.body), QSize(50000, 50000));
  }
}

TEST_F(SimFaults, RedirectToAnotherPath) {
  const HttpResult r = Get("/file/83264445?fault=redirect&x=1");
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), "/moved/file/83264445?x=1");
  const HttpResult followed = Get("/file/83264445?fault=redirect", RequestOptions::Follow());
  EXPECT_EQ(followed.status, 200);
  EXPECT_TRUE(followed.Has(kPageMarker));

  EXPECT_EQ(Get("/file/83264445?fault=redirect:/file/12345678").Header("Location"),
            "/file/12345678");
}

TEST_F(SimFaults, RedirectToHttps) {
  const HttpResult r = Get("/randcodeV2.php?fid=1&fault=redirect-https&rand=7");
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"),
            "https://127.0.0.1:" + std::to_string(sim_->port()) + "/randcodeV2.php?fid=1&rand=7");
}

TEST_F(SimFaults, CloseInTheMiddleOfTheBody) {
  const HttpResult r = Get("/__test/bytes?n=10000&fault=close-mid-body");
  EXPECT_EQ(r.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(r.Header("Content-Length"), "10000");
  EXPECT_EQ(r.body.size(), 5000u);
}

TEST_F(SimFaults, SilentSendsNothingAndRedirectLoopPointsAtItself) {
  const HttpResult silent = Get("/file/83264445?fault=silent", RequestOptions::Timeout(400));
  EXPECT_EQ(silent.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_TRUE(silent.headers.empty());
  EXPECT_TRUE(silent.body.empty());

  const HttpResult loop = Get("/file/83264445?x=1&fault=redirect-loop");
  EXPECT_EQ(loop.status, 302);
  EXPECT_EQ(loop.Header("Location"), "/file/83264445?x=1&fault=redirect-loop");
}

TEST_F(SimFaults, CloseOrStallAfterSomeBytesOfTheBody) {
  const struct {
    std::string faults;
    size_t bytes;
  } cases[] = {{"close-after:3000", 3000},
               {"close-after", 16384},
               {"close-after:3000,close-mid-body", 3000}};
  for (const auto& c : cases) {
    const HttpResult r = Get("/__test/bytes?n=20000&fault=" + c.faults);
    EXPECT_EQ(r.code, CURLE_PARTIAL_FILE) << c.faults;
    EXPECT_EQ(r.Header("Content-Length"), "20000");
    EXPECT_EQ(r.body.size(), c.bytes) << c.faults;
  }
  // A body within the count arrives whole, on a connection that then closes.
  const HttpResult whole = Get("/__test/bytes?n=100&fault=close-after:3000");
  EXPECT_EQ(whole.code, CURLE_OK);
  EXPECT_EQ(whole.body.size(), 100u);
  EXPECT_EQ(whole.Header("Connection"), "close");

  const HttpResult stalled =
      Get("/__test/bytes?n=20000&fault=stall-after:3000", RequestOptions::Timeout(1500));
  EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(stalled.body.size(), 3000u);
  // It waited for the timeout, not for a close (libcurl may end a
  // millisecond early).
  EXPECT_GE(stalled.elapsed, milliseconds(1400));
}

TEST_F(SimFaults, UnknownFaultIsABadRequest) {
  EXPECT_EQ(Get("/file/83264445?fault=sideways").status, 400);
}

TEST_F(SimFaults, ControlEndpointScopesAFaultToAPathAndACount) {
  ASSERT_EQ(Get("/__test/fault?path=/randcodeV2.php&set=html-captcha&times=1").status, 200);
  EXPECT_TRUE(Get("/file/83264445").Has(kPageMarker));
  EXPECT_EQ(Get("/randcodeV2.php?rand=1").status, 500);
  EXPECT_EQ(Get("/randcodeV2.php?rand=2").Header("Content-Type"), "image/png");

  ASSERT_EQ(Get("/__test/fault?set=redirect").status, 200);
  EXPECT_EQ(Get("/file/83264445").status, 302);
  EXPECT_EQ(Get("/__test/fault?clear=1").status, 200);
  EXPECT_EQ(Get("/file/83264445").status, 200);
  EXPECT_EQ(Get("/__test/fault?set=bogus").status, 400);
}

TEST_F(SimFaults, PageCarriesCaptchaSwitchesIntoItsCaptchaPath) {
  const HttpResult page = Get("/file/83264445?captcha_fault=huge-picture&picture=gif");
  EXPECT_EQ(Between(page.body, kCaptchaMarker, "\""),
            "/randcodeV2.php?fid=83264445&picture=gif&fault=huge-picture&rand=");
}

TEST(SimRunFaults, CommandLineFaultForOnePath) {
  SimProcess sim({"--test-mode", "--fault", "html-captcha@/randcodeV2.php"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  EXPECT_TRUE(CurlSession().Get(sim.url("/file/83264445")).Has(kPageMarker));
  EXPECT_EQ(CurlSession().Get(sim.url("/randcodeV2.php?rand=1")).status, 500);
  EXPECT_EQ(CurlSession().Get(sim.url("/randcodeV2.php?rand=2")).status, 500);
}

TEST(SimTestEndpoints, EchoCookiesAndBytes) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const HttpResult echo = CurlSession().Get(
      sim.url("/__test/echo?status=404&header=X-One:%201&header=Content-Type:text/html&body=hi"));
  EXPECT_EQ(echo.status, 404);
  EXPECT_EQ(echo.Header("X-One"), "1");
  EXPECT_EQ(echo.Header("Content-Type"), "text/html");
  EXPECT_EQ(echo.body, "hi");

  const HttpResult mirror =
      CurlSession().Post(sim.url("/__test/echo"), "a=1", RequestOptions::Headers({"X-Probe: yes"}));
  EXPECT_EQ(mirror.body.rfind("POST /__test/echo HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(mirror.body.find("\r\nX-Probe: yes\r\n"), std::string::npos);
  EXPECT_EQ(mirror.body.substr(mirror.body.size() - 7), "\r\n\r\na=1");

  CurlSession jar;
  const HttpResult cookies = jar.Get(sim.url("/__test/cookies?n=30&size=50"));
  EXPECT_GT(cookies.headers.size(), 30u * 50u);
  EXPECT_EQ(jar.Cookie("c30"), std::string(50, 'v'));

  const HttpResult bytes = CurlSession().Get(sim.url("/__test/bytes?n=3"));
  EXPECT_EQ(bytes.body, std::string("\x07\x8a\x0d", 3));
}

TEST(SimShutdown, StopsWhileABodyNeverEnds) {
  SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  std::thread client([&] {
    CurlSession().Get(sim.url("/file/83264445?fault=endless"), RequestOptions::Timeout(5000));
  });
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  client.join();
}

}  // namespace
}  // namespace sorrel::test
