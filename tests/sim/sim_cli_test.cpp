// The sorrel-sim command line: usage, refusals, port handling, signals and
// what stays hidden without --test-mode.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "curl_test_session.h"
#include "sim_test_util.h"
#include "test_helpers/sim_process.h"

namespace sorrel::test {
namespace {

TEST(SimCli, HelpPrintsUsageAndSucceeds) {
  const SimRun run = RunSimToEnd({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* option : {"--port", "--picture", "--file", "--token-seconds", "--test-mode",
                             "--fixed-code", "--request-log", "--fault", "close-mid-body"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

TEST(SimCli, BadCommandLinesFailWithAMessage) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--port"}, "needs a value"},
      {{"--port", "70000"}, "bad value '70000' for --port"},
      {{"--port", "-1"}, "bad value"},
      {{"--picture", "tiff"}, "unknown picture format 'tiff'"},
      {{"--file", "abc=/etc/hostname"}, "--file takes ID=PATH"},
      {{"--file", "5=/nonexistent/sorrel"}, "cannot read '/nonexistent/sorrel'"},
      {{"--file", "5=/tmp"}, "is not a regular file"},
      {{"--fixed-code", "k7p2"}, "needs --test-mode"},
      {{"--fault", "delay"}, "needs --test-mode"},
      {{"--request-log", "/tmp/x"}, "needs --test-mode"},
      {{"--test-mode", "--fixed-code", "k7-2"}, "--fixed-code takes"},
      {{"--test-mode", "--fault", "sideways"}, "unknown fault 'sideways'"},
      {{"--test-mode", "--fault", "delay:abc"}, "bad value 'abc' for fault delay"},
      {{"--test-mode", "--fault", "redirect@nowhere"}, "starting with '/'"},
      {{"--verbose=1"}, "takes no value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args.back() : ""));
    const SimRun run = RunSimToEnd(c.args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST(SimCli, PortInUseFails) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string port = std::to_string(ntohs(addr.sin_port));

  const SimRun run = RunSimToEnd({"--port", port});
  ::close(fd);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("cannot listen on 127.0.0.1:" + port), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

TEST(SimCli, SignalsEndItCleanly) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    SimProcess sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    EXPECT_EQ(CurlSession().Get(sim.url("/")).status, 200);
    EXPECT_EQ(sim.Stop(signal), 0);
  }
}

TEST(SimCli, TestFeaturesAreOffByDefault) {
  SimProcess sim;
  ASSERT_TRUE(sim.ok()) << sim.error();
  for (const char* path : {"/__test/captcha", "/__test/log", "/__test/echo", "/__test/fault"}) {
    EXPECT_EQ(CurlSession().Get(sim.url(path)).status, 404) << path;
  }
  const HttpResult page = CurlSession().Get(sim.url("/file/83264445?fault=close-mid-body"));
  EXPECT_EQ(page.code, CURLE_OK);
  EXPECT_TRUE(page.Has(kPageMarker));
  EXPECT_EQ(Between(CurlSession().Get(sim.url("/file/83264445?captcha_fault=html-captcha")).body,
                    kCaptchaMarker, "\""),
            "/randcodeV2.php?fid=83264445&rand=");
}

TEST(SimCli, PictureFormatAndFixedCode) {
  SimProcess sim({"--picture", "gif", "--test-mode", "--fixed-code", "k7p2"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  CurlSession session;
  const HttpResult picture = session.Get(sim.url("/randcodeV2.php?fid=1&rand=1"));
  EXPECT_EQ(picture.Header("Content-Type"), "image/gif");
  EXPECT_EQ(picture.body.rfind("GIF8", 0), 0u);
  EXPECT_FALSE(DecodePicture(picture.body).isNull());
  EXPECT_EQ(CurlSession().Get(sim.url("/__test/captcha")).body, "k7p2");
  EXPECT_EQ(
      CurlSession().Get(sim.url("/__test/captcha?session=" + session.Cookie("sorrel_sid"))).body,
      "k7p2");
}

}  // namespace
}  // namespace sorrel::test
