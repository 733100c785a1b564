// The Windows build's hand-off and link check over WinInet, against the
// demo service and a real aria2c on loopback that with_aria2.sh starts: to
// the program it is a remote engine like any other.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "download/aria2_client.h"
#include "download/file_name.h"
#include "download/link_check.h"
#include "http/http_stack_wininet.h"
#include "http/web_access.h"
#include "http/worker_thread.h"
#include "resolve/resolver.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/platform_engines.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A host path as wine shows it: on drive Z.
fs::path HostPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return fs::path("Z:" + path);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Abandoned request workers may outlive a test, so the stack lives on.
HttpStack& Stack() {
  static auto* stack = new WinInetHttpStack();
  return *stack;
}

class Aria2Win32 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("SORREL_TEST_ARIA2_URL").empty()) GTEST_SKIP() << "with_aria2.sh started no aria2c";
  }

  // The normal address the workflow resolves for /file/99 (UTF-8).
  std::string Resolve() {
    ProgramState state{test::PlatformRegexObject()};
    test::FakeView view;
    test::RecordingWindows windows;
    WebClient web{Stack(), view, windows};
    const std::string origin = Env("SORREL_TEST_SIM_URL");
    Resolver resolver(state, web, view, test::PlatformPictures(), origin);
    view.address = page_ = origin + "/file/99";
    resolver.RefreshCaptcha();
    view.captcha = "k7p2";
    resolver.ResolveDownloadAddresses();
    return GbkToUtf8(state.NormalLink);
  }

  Aria2Endpoint Engine(std::string secret) const {
    return {Env("SORREL_TEST_ARIA2_URL"), std::move(secret)};
  }

  std::string page_;
};

TEST_F(Aria2Win32, TheFileArrivesByteForByteUnderItsChineseName) {
  const std::string address = Resolve();
  ASSERT_EQ(address.rfind(Env("SORREL_TEST_SIM_URL") + "/dl/", 0), 0u) << address;
  Aria2Client client(Stack(), PlatformThreads(), Engine(Env("SORREL_TEST_ARIA2_SECRET")));
  Aria2Download download;
  download.address = address;
  download.fileName = FileNameFromAddress(address);
  download.referer = page_;
  download.userAgent = std::string(kPageUserAgent);
  EXPECT_EQ(download.fileName, "样本 数据.bin");
  Aria2Error failure;
  const std::string gid = client.AddUri(download, failure);
  ASSERT_EQ(gid.size(), 16u) << failure.message;

  Aria2Status status;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (client.TellStatus(gid, status, failure) && status.status != "complete" &&
         status.status != "error" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(status.status, "complete") << failure.message << status.errorMessage;
  EXPECT_EQ(status.totalLength, 70000);
  const std::string arrived =
      ReadFile(HostPath(Env("SORREL_TEST_DOWNLOADS")) / fs::path(L"样本 数据.bin"));
  EXPECT_EQ(arrived.size(), 70000u);
  EXPECT_TRUE(arrived == ReadFile(HostPath(Env("SORREL_TEST_SAMPLE"))));
}

TEST_F(Aria2Win32, AWrongSecretAndADeadEngineGiveTheirSentences) {
  const struct {
    Aria2Endpoint endpoint;
    Aria2Failure failure;
    std::string message;
  } cases[] = {
      {Engine("wrong"), Aria2Failure::kUnauthorized,
       "aria2 拒绝了请求：密钥不对（Unauthorized）。请检查 aria2 的 RPC 密钥。"},
      {{"http://127.0.0.1:9/jsonrpc", ""},
       Aria2Failure::kUnreachable,
       "aria2 没有应答：连不上 http://127.0.0.1:9/jsonrpc。请确认 aria2 正在运行并开启了 RPC。"},
  };
  for (const auto& c : cases) {
    Aria2Client client(Stack(), PlatformThreads(), c.endpoint, 5000);
    Aria2Error failure;
    EXPECT_TRUE(client.GetVersion(failure).empty()) << c.endpoint.address;
    EXPECT_EQ(failure.failure, c.failure) << c.endpoint.address;
    EXPECT_EQ(failure.message, c.message);
  }
  Aria2Error failure;
  Aria2Client client(Stack(), PlatformThreads(), Engine(Env("SORREL_TEST_ARIA2_SECRET")));
  EXPECT_FALSE(client.GetVersion(failure).empty()) << failure.message;
}

TEST_F(Aria2Win32, TheCheckGivesNameSizeAndStatus) {
  const std::string address = Resolve();
  ASSERT_FALSE(address.empty());
  const struct {
    std::string address;
    LinkStatus status;
    std::string name;
    long long size;
  } cases[] = {
      {address, LinkStatus::kOk, "样本 数据.bin", 70000},
      {address.substr(0, address.rfind('/')) + "/other.bin", LinkStatus::kGone, "other.bin", -1},
      {Env("SORREL_TEST_SIM_URL") + "/", LinkStatus::kHtml, "download", -1},
      {"http://127.0.0.1:9/a.zip", LinkStatus::kUnreachable, "a.zip", -1},
  };
  for (const auto& c : cases) {
    const LinkCheck check = CheckLink(Stack(), PlatformThreads(), c.address, kPageUserAgent, 5000);
    EXPECT_EQ(check.status, c.status) << c.address;
    EXPECT_EQ(check.name, c.name) << c.address;
    EXPECT_EQ(check.size, c.size) << c.address;
  }
}

}  // namespace
}  // namespace sorrel
