// The hand-off to a real aria2c and the link check, against the demo
// service on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "download/aria2_client.h"
#include "download/file_name.h"
#include "download/link_check.h"
#include "download/private_engine.h"
#include "http/http_call.h"
#include "http/http_stack_curl.h"
#include "http/web_access.h"
#include "http/worker_thread.h"
#include "resolve/resolver.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/platform_engines.h"
#include "test_helpers/sim_process.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kCode = "k7p2";

// Abandoned request workers may outlive a test, so the stack lives on.
HttpStack& Stack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

fs::path FreshDir(const std::string& name) {
  const fs::path dir =
      fs::path(::testing::TempDir()) / ("sorrel-dl-" + name + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// The demo service with one file of ours, and the normal address the
// workflow resolves for it (UTF-8).
struct Service {
  explicit Service(std::vector<std::string> extra = {}) {
    const fs::path dir = FreshDir("file");
    file = dir / "样本 数据.bin";
    content.resize(70000);
    std::mt19937 random(11);
    for (char& c : content) c = static_cast<char>(random());
    std::ofstream(file, std::ios::binary) << content;
    std::vector<std::string> args = {"--test-mode", "--fixed-code", kCode, "--file",
                                     "99=" + file.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    sim.emplace(args);
  }

  std::string Resolve() {
    ProcessCookieStore().Clear();
    ProgramState state{test::PlatformRegexObject()};
    test::FakeView view;
    test::RecordingWindows windows;
    WebClient web{Stack(), view, windows};
    Resolver resolver(state, web, view, test::PlatformPictures(), sim->baseUrl());
    view.address = page = sim->url("/file/99");
    resolver.RefreshCaptcha();
    view.captcha = kCode;
    resolver.ResolveDownloadAddresses();
    return GbkToUtf8(state.NormalLink);
  }

  // The request log's entries whose request line starts with `start`.
  std::vector<nlohmann::json> Log(const std::string& start) {
    HttpCall call;
    call.address = sim->url("/__test/log");
    const HttpCallResult answer = PerformHttpCall(Stack(), PlatformThreads(), call);
    std::vector<nlohmann::json> entries;
    std::istringstream lines(answer.body);
    for (std::string line; std::getline(lines, line);) {
      nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
      if (entry.is_object() && entry.value("request_line", "").rfind(start, 0) == 0) {
        entries.push_back(std::move(entry));
      }
    }
    return entries;
  }

  fs::path file;
  std::string content;
  std::string page;
  std::optional<test::SimProcess> sim;
};

std::string Port(const std::string& url) {
  const std::size_t colon = url.rfind(':');
  return url.substr(colon + 1, url.find('/', colon) - colon - 1);
}

// The local addresses (hex, as /proc/net shows them) listening on `port`.
std::set<std::string> Listeners(int port) {
  char hexPort[8];
  std::snprintf(hexPort, sizeof hexPort, "%04X", port);
  std::set<std::string> found;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::istringstream lines(ReadFile(table));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const std::size_t colon = local.find(':');
      if (state == "0A" && local.substr(colon + 1) == hexPort) found.insert(local.substr(0, colon));
    }
  }
  return found;
}

bool Ended(long pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = stat.rfind(')');
  return stat.empty() || (paren != std::string::npos && stat.substr(paren + 2, 1) == "Z");
}

template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

Aria2Download DownloadOf(const std::string& address, const std::string& page) {
  Aria2Download d;
  d.address = address;
  d.fileName = FileNameFromAddress(address);
  d.referer = page;
  d.userAgent = std::string(kPageUserAgent);
  d.cookieLine = Stack().CookieLine(address);
  return d;
}

TEST(Aria2HandOff, FileArrivesWholeWithItsChineseNameFetchedAsTheToolWould) {
  Service service;
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  const std::string address = service.Resolve();
  ASSERT_EQ(address.rfind(service.sim->baseUrl() + "/dl/", 0), 0u) << address;

  const fs::path data = FreshDir("data");
  const fs::path downloads = FreshDir("downloads");
  std::string error;
  auto engine = PrivateEngine::Start(Stack(), PlatformThreads(),
                                     {"aria2c", downloads.string(), data.string()}, error);
  ASSERT_TRUE(engine) << error;
  EXPECT_EQ(engine->Endpoint().address.rfind("http://127.0.0.1:", 0), 0u);
  EXPECT_EQ(engine->Endpoint().secret.size(), 32u);

  Aria2Client client(Stack(), PlatformThreads(), engine->Endpoint());
  Aria2Download download = DownloadOf(address, service.page);
  EXPECT_EQ(download.cookieLine.rfind("sorrel_sid=", 0), 0u);
  Aria2Error failure;
  const std::string gid = client.AddUri(download, failure);
  ASSERT_EQ(gid.size(), 16u) << failure.message;

  Aria2Status status;
  ASSERT_TRUE(WaitFor(
      [&] {
        return client.TellStatus(gid, status, failure) &&
               (status.status == "complete" || status.status == "error");
      },
      std::chrono::seconds(20)))
      << failure.message;
  EXPECT_EQ(status.status, "complete") << status.errorMessage;
  EXPECT_EQ(status.totalLength, 70000);
  EXPECT_EQ(status.completedLength, 70000);
  EXPECT_EQ(status.path, (downloads / "样本 数据.bin").string());
  EXPECT_EQ(ReadFile(downloads / "样本 数据.bin"), service.content);

  const auto fetched = service.Log("GET /dl/");
  ASSERT_EQ(fetched.size(), 1u);
  std::vector<std::string> headers = fetched[0]["headers"];
  auto has = [&](const std::string& line) {
    return std::find(headers.begin(), headers.end(), line) != headers.end();
  };
  EXPECT_TRUE(has("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
  EXPECT_TRUE(has("Referer: " + service.page));
  EXPECT_TRUE(has("Cookie: " + download.cookieLine));
  EXPECT_EQ(std::count_if(headers.begin(), headers.end(),
                          [](const std::string& h) { return h.rfind("User-Agent:", 0) == 0; }),
            1);
}

TEST(Aria2HandOff, PrivateEngineListensOnLoopbackKeepsItsSecretOffTheCommandLineAndEndsWithUs) {
  const fs::path data = FreshDir("probe-data");
  const fs::path downloads = FreshDir("probe-downloads");
  int toProbe[2], fromProbe[2];
  ASSERT_EQ(pipe(toProbe), 0);
  ASSERT_EQ(pipe(fromProbe), 0);
  const pid_t probe = fork();
  ASSERT_GE(probe, 0);
  if (probe == 0) {
    dup2(toProbe[0], STDIN_FILENO);
    dup2(fromProbe[1], STDOUT_FILENO);
    close(toProbe[1]);
    close(fromProbe[0]);
    execl(SORREL_ENGINE_PROBE, SORREL_ENGINE_PROBE, data.c_str(), downloads.c_str(), nullptr);
    _exit(127);
  }
  close(toProbe[0]);
  close(fromProbe[1]);
  FILE* out = fdopen(fromProbe[0], "r");
  long enginePid = 0;
  char address[256] = {};
  ASSERT_EQ(std::fscanf(out, "%ld %255s", &enginePid, address), 2);
  const int port = std::stoi(Port(address));

  const std::set<std::string> listeners = Listeners(port);
  ASSERT_FALSE(listeners.empty());
  for (const std::string& local : listeners) {
    EXPECT_TRUE(local == "0100007F" || local == "00000000000000000000000001000000") << local;
  }
  const std::string commandLine = ReadFile("/proc/" + std::to_string(enginePid) + "/cmdline");
  EXPECT_EQ(commandLine.find("rpc-secret"), std::string::npos);
  EXPECT_EQ(commandLine.find("rpc-listen-all=true"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(data)) {
    EXPECT_EQ(entry.path().filename(), "aria2.session");  // the secret's file is gone
  }
  EXPECT_EQ(fs::status(data).permissions() & fs::perms::all, fs::perms::owner_all);

  // An engine that answers without the secret would be anyone's.
  Aria2Client stranger(Stack(), PlatformThreads(), {address, ""});
  Aria2Error failure;
  EXPECT_TRUE(stranger.GetVersion(failure).empty());
  EXPECT_EQ(failure.failure, Aria2Failure::kUnauthorized);

  kill(probe, SIGKILL);
  waitpid(probe, nullptr, 0);
  close(toProbe[1]);
  std::fclose(out);
  EXPECT_TRUE(WaitFor([&] { return Ended(enginePid); }, std::chrono::seconds(8)));
}

TEST(Aria2HandOff, EngineStopsWithItsOwner) {
  const fs::path data = FreshDir("own-data");
  std::string error;
  auto engine = PrivateEngine::Start(Stack(), PlatformThreads(),
                                     {"aria2c", FreshDir("own-dl").string(), data.string()}, error);
  ASSERT_TRUE(engine) << error;
  const long pid = engine->ProcessId();
  engine.reset();
  EXPECT_TRUE(Ended(pid));
  EXPECT_TRUE(fs::exists(data / "aria2.session"));
}

TEST(Aria2HandOff, MissingEngineSaysHowToInstallIt) {
  std::string error;
  auto engine = PrivateEngine::Start(
      Stack(), PlatformThreads(), {"aria2c-not-installed", "", FreshDir("none").string()}, error);
  EXPECT_FALSE(engine);
  EXPECT_EQ(error,
            "找不到下载引擎 aria2c。请先安装 aria2（Debian、Ubuntu：sudo apt install aria2），"
            "或填写一个正在运行的 aria2 的 RPC 地址。");
}

TEST(Aria2HandOff, FailuresBecomeSentences) {
  Service service;
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  std::string error;
  auto engine = PrivateEngine::Start(
      Stack(), PlatformThreads(),
      {"aria2c", FreshDir("f-dl").string(), FreshDir("f-data").string()}, error);
  ASSERT_TRUE(engine) << error;
  const std::string slow = service.sim->url("/__test/echo?fault=delay:8000");
  const struct {
    Aria2Endpoint endpoint;
    Aria2Failure failure;
    std::string message;
  } cases[] = {
      {{engine->Endpoint().address, "wrong"},
       Aria2Failure::kUnauthorized,
       "aria2 拒绝了请求：密钥不对（Unauthorized）。请检查 aria2 的 RPC 密钥。"},
      {{"http://127.0.0.1:9/jsonrpc", ""},
       Aria2Failure::kUnreachable,
       "aria2 没有应答：连不上 http://127.0.0.1:9/jsonrpc。请确认 aria2 正在运行并开启了 RPC。"},
      {{slow, ""}, Aria2Failure::kTimedOut, "aria2 在 5 秒内没有应答：" + slow + "。"},
      {{service.sim->url("/"), ""},
       Aria2Failure::kNotJsonRpc,
       service.sim->url("/") + " 的应答不是 aria2 的 JSON-RPC 应答，请检查 aria2 的地址。"},
      {{"ftp://127.0.0.1/", ""},
       Aria2Failure::kBadAddress,
       "aria2 的地址“ftp://127.0.0.1/”不对，应当以 http:// 或 https:// 开头。"},
  };
  for (const auto& c : cases) {
    // aria2 holds back its answer to a wrong secret for a moment.
    Aria2Client client(Stack(), PlatformThreads(), c.endpoint, 5000);
    Aria2Error failure;
    const auto start = Clock::now();
    EXPECT_TRUE(client.AddUri(DownloadOf("http://127.0.0.1:9/x.bin", ""), failure).empty());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6)) << c.endpoint.address;
    EXPECT_EQ(failure.failure, c.failure) << c.endpoint.address;
    EXPECT_EQ(failure.message, c.message);
  }

  Aria2Client client(Stack(), PlatformThreads(), engine->Endpoint());
  Aria2Error failure;
  Aria2Status status;
  EXPECT_FALSE(client.TellStatus("0123456789abcdef", status, failure));
  EXPECT_EQ(failure.failure, Aria2Failure::kRefused);
  EXPECT_EQ(failure.message.rfind("aria2 报告错误：", 0), 0u) << failure.message;
}

TEST(LinkCheck, TellsWhatTheAddressGives) {
  Service service;
  Service expired({"--token-seconds", "0"});
  ASSERT_TRUE(service.sim->ok() && expired.sim->ok());
  const std::string stale = expired.Resolve();
  const std::string address = service.Resolve();
  ASSERT_FALSE(address.empty());
  const std::string echo = service.sim->url("/__test/echo?header=Content-Type:application/x-rar");
  const struct {
    std::string address;
    LinkStatus status;
    std::string name;
    long long size;
  } cases[] = {
      {address, LinkStatus::kOk, "样本 数据.bin", 70000},
      {stale, LinkStatus::kExpired, "样本 数据.bin", -1},
      {address.substr(0, address.rfind('/')) + "/other.bin", LinkStatus::kGone, "other.bin", -1},
      {service.sim->url("/"), LinkStatus::kHtml, "download", -1},
      {"http://127.0.0.1:9/a.zip", LinkStatus::kUnreachable, "a.zip", -1},
      {service.sim->url("/__test/echo/b.zip?fault=delay:5000"), LinkStatus::kTimedOut, "b.zip", -1},
      {echo + "&status=206&header=Content-Range:bytes+0-0/123456789"
              "&header=Content-Disposition:attachment;+filename=%22r.rar%22",
       LinkStatus::kOk, "r.rar", 123456789},
  };
  for (const auto& c : cases) {
    const LinkCheck check = CheckLink(Stack(), PlatformThreads(), c.address, kPageUserAgent, 1500);
    EXPECT_EQ(check.status, c.status) << c.address;
    EXPECT_EQ(check.name, c.name) << c.address;
    EXPECT_EQ(check.size, c.size) << c.address;
  }
  const auto asked = service.Log("GET /dl/");
  ASSERT_FALSE(asked.empty());
  const std::vector<std::string> headers = asked.back()["headers"];
  EXPECT_NE(std::find(headers.begin(), headers.end(), "Range: bytes=0-0"), headers.end());
  EXPECT_NE(
      std::find_if(headers.begin(), headers.end(),
                   [](const std::string& h) { return h.rfind("Cookie: sorrel_sid=", 0) == 0; }),
      headers.end());
}

// A stack that cannot bound an exchange, and whose every answer takes 3 s.
class SlowStack : public test::OneAnswerStack<SlowStack> {
 public:
  bool Send(std::string_view, std::string_view) override {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    return false;
  }
  std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
};

// The limit holds whether the stack bounds the exchange itself (an answer
// that trickles in) or a worker has to be abandoned.
TEST(HttpCallLimit, EndsTheCallAtItsTimeLimit) {
  Service service;
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  const std::string address = service.Resolve();
  ASSERT_FALSE(address.empty());
  static auto* slow = new SlowStack();
  const struct {
    HttpStack* stack;
    std::string address;
  } cases[] = {
      {&Stack(), address + "?fault=trickle:100"},
      {&Stack(), service.sim->url("/__test/echo?fault=delay:5000")},
      {slow, "http://127.0.0.1:9/x.bin"},
  };
  for (const auto& c : cases) {
    HttpCall call;
    call.address = c.address;
    call.agent = std::string(kPageUserAgent);
    call.storedCookies = true;
    call.timeoutMs = 700;
    const auto start = Clock::now();
    const HttpCallResult result = PerformHttpCall(*c.stack, PlatformThreads(), call);
    const auto spent = Clock::now() - start;
    EXPECT_EQ(result.failure, HttpCallFailure::kTimedOut) << c.address;
    EXPECT_TRUE(result.body.empty()) << c.address;
    EXPECT_GE(spent, std::chrono::milliseconds(690)) << c.address;
    EXPECT_LT(spent, std::chrono::milliseconds(1500)) << c.address;
  }
}

}  // namespace
}  // namespace sorrel
