// The hand-off to a real aria2c and the link check, against the demo
// service on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "download/renewal.h"
#include "http/http_call.h"
#include "http/http_stack_curl.h"
#include "http/web_access.h"
#include "http/worker_thread.h"
#include "resolve/resolver.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/loopback_server.h"
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
  return d;
}

// The download's last state, once it is complete or failed.
Aria2Status Finished(Aria2Client& client, const std::string& gid) {
  Aria2Status status;
  Aria2Error failure;
  const bool ended = WaitFor(
      [&] {
        return client.TellStatus(gid, status, failure) &&
               (status.status == "complete" || status.status == "error");
      },
      std::chrono::seconds(20));
  EXPECT_TRUE(ended) << failure.message << status.status;
  return status;
}

PrivateEngineOptions EngineIn(const fs::path& downloads, const fs::path& data) {
  PrivateEngineOptions options;
  options.downloadDir = downloads.string();
  options.dataDir = data.string();
  return options;
}

std::vector<std::string> Headers(const nlohmann::json& entry) { return entry["headers"]; }

bool Has(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

// The window's road: a file the user has, and a partial file of another
// run, stay as they are; the download gets a name of its own, and the
// service's cookies, but no second User-Agent.
TEST(Aria2HandOff, FileArrivesWholeBesideTheUsersFilesFetchedAsTheToolWould) {
  Service service;
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  const std::string address = service.Resolve();
  ASSERT_EQ(address.rfind(service.sim->baseUrl() + "/dl/", 0), 0u) << address;
  const fs::path downloads = FreshDir("downloads");
  std::ofstream(downloads / "样本 数据.bin") << "mine";
  std::ofstream(downloads / "样本 数据.1.bin") << "part of another run";
  std::ofstream(downloads / "样本 数据.1.bin.aria2") << "its control file";

  PrivateEngineKeeper keeper(Stack(), PlatformThreads(), EngineIn(downloads, FreshDir("data")));
  Aria2Download download = DownloadOf(address, service.page);
  const std::string cookieLine = Stack().CookieLine(address);
  EXPECT_EQ(cookieLine.rfind("sorrel_sid=", 0), 0u);
  Aria2Error failure;
  const std::string gid = keeper.Add(download, cookieLine, failure);
  ASSERT_EQ(gid.size(), 16u) << failure.message;
  EXPECT_EQ(download.fileName, "样本 数据.2.bin");
  EXPECT_EQ(keeper.Client()->Endpoint().address.rfind("http://127.0.0.1:", 0), 0u);
  EXPECT_EQ(keeper.Client()->Endpoint().secret.size(), 32u);

  const Aria2Status status = Finished(*keeper.Client(), gid);
  EXPECT_EQ(status.status, "complete") << status.errorMessage;
  EXPECT_EQ(status.totalLength, 70000);
  EXPECT_EQ(status.path, (downloads / "样本 数据.2.bin").string());
  EXPECT_TRUE(ReadFile(downloads / "样本 数据.2.bin") == service.content);
  EXPECT_TRUE(ReadFile(downloads / "样本 数据.bin") == "mine");
  EXPECT_EQ(ReadFile(downloads / "样本 数据.1.bin"), "part of another run");
  EXPECT_EQ(ReadFile(downloads / "样本 数据.1.bin.aria2"), "its control file");

  const auto fetched = service.Log("GET /dl/");
  ASSERT_EQ(fetched.size(), 1u);
  const std::vector<std::string> headers = Headers(fetched[0]);
  auto has = [&](const std::string& line) {
    return std::find(headers.begin(), headers.end(), line) != headers.end();
  };
  EXPECT_TRUE(has("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
  EXPECT_TRUE(has("Referer: " + service.page));
  EXPECT_TRUE(Has(headers, "Cookie: " + cookieLine)) << fetched[0].dump();
  EXPECT_EQ(std::count_if(headers.begin(), headers.end(),
                          [](const std::string& h) { return h.rfind("User-Agent:", 0) == 0; }),
            1);
}

TEST(Aria2HandOff, CookiesStayWithTheirHostAcrossARedirect) {
  Service service;
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  ASSERT_FALSE(service.Resolve().empty());
  const std::string elsewhere =
      "http://localhost:" + std::to_string(service.sim->port()) + "/__test/echo?moved";
  const std::string address =
      service.sim->url("/__test/echo?status=302&header=Location:" + elsewhere);
  const std::string cookieLine = Stack().CookieLine(address);
  ASSERT_FALSE(cookieLine.empty());

  PrivateEngineKeeper keeper(Stack(), PlatformThreads(),
                             EngineIn(FreshDir("redirect-dl"), FreshDir("redirect-data")));
  Aria2Download download = DownloadOf(address, service.page);
  Aria2Error failure;
  const std::string gid = keeper.Add(download, cookieLine, failure);
  ASSERT_FALSE(gid.empty()) << failure.message;
  EXPECT_EQ(Finished(*keeper.Client(), gid).status, "complete");
  const auto first = service.Log("GET /__test/echo?status=302");
  const auto moved = service.Log("GET /__test/echo?moved");
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_TRUE(Has(Headers(first[0]), "Cookie: " + cookieLine)) << first[0].dump();
  EXPECT_TRUE(Has(Headers(moved[0]), "Host: localhost:")) << moved[0].dump();
  EXPECT_FALSE(Has(Headers(moved[0]), "Cookie:")) << moved[0].dump();
}

// The sockets `pid` listens on (TCP) or has bound (UDP), as "tcp:PORT" or
// "udp:PORT".
std::set<std::string> OpenPorts(long pid) {
  std::set<std::string> inodes;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code ignored;
    const std::string target = fs::read_symlink(fd.path(), ignored).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  std::set<std::string> ports;
  for (const std::string kind : {"tcp", "tcp6", "udp", "udp6"}) {
    std::istringstream lines(ReadFile("/proc/net/" + kind));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, skip, inode;
      fields >> slot >> local >> remote >> state >> skip >> skip >> skip >> skip >> skip >> inode;
      const bool tcp = kind.rfind("tcp", 0) == 0;
      if (inodes.count(inode) == 0 || (tcp && state != "0A")) continue;
      ports.insert(kind.substr(0, 3) + ":" +
                   std::to_string(std::stoi(local.substr(local.find(':') + 1), nullptr, 16)));
    }
  }
  return ports;
}

std::string PercentEncoded(const std::string& bytes) {
  std::string out;
  for (const unsigned char b : bytes) {
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", b);
    out += escaped;
  }
  return out;
}

TEST(Aria2HandOff, ATorrentIsSavedAndTheEngineNeverBecomesAPeer) {
  Service service;
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  const std::string torrent =
      "d8:announce27:http://127.0.0.1:9/announce4:infod6:lengthi16384e4:name5:x.bin"
      "12:piece lengthi16384e6:pieces20:" +
      std::string(20, 'p') + "ee";
  const std::string address = service.sim->url(
      "/__test/echo?header=Content-Type:application/x-bittorrent&body=" + PercentEncoded(torrent));
  const fs::path downloads = FreshDir("torrent-dl");
  PrivateEngineKeeper keeper(Stack(), PlatformThreads(),
                             EngineIn(downloads, FreshDir("torrent-data")));
  Aria2Download download = DownloadOf(address, "");
  download.fileName = "x.torrent";
  Aria2Error failure;
  const std::string gid = keeper.Add(download, "", failure);
  ASSERT_FALSE(gid.empty()) << failure.message;
  EXPECT_EQ(Finished(*keeper.Client(), gid).status, "complete");
  EXPECT_EQ(ReadFile(downloads / "x.torrent"), torrent);
  const std::set<std::string> rpcOnly = {"tcp:" + Port(keeper.Client()->Endpoint().address)};
  // A torrent followed would open its ports within moments.
  for (int i = 0; i < 15; ++i) {
    ASSERT_EQ(OpenPorts(keeper.ProcessId()), rpcOnly);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// A dead engine is reaped at once and started again at the next send; its
// failures never ask the user to set up an engine.
TEST(Aria2HandOff, ADeadEngineIsReapedAndStartedAgainAtTheNextSend) {
  Service expired({"--token-seconds", "0"});
  ASSERT_TRUE(expired.sim->ok()) << expired.sim->error();
  const std::string address = expired.Resolve();
  ASSERT_FALSE(address.empty());
  PrivateEngineKeeper keeper(Stack(), PlatformThreads(),
                             EngineIn(FreshDir("dead-dl"), FreshDir("dead-data")));
  Aria2Download download = DownloadOf(address, expired.page);
  Aria2Error failure;
  std::string gid = keeper.Add(download, "", failure);
  ASSERT_FALSE(gid.empty()) << failure.message;
  const Aria2Status refused = Finished(*keeper.Client(), gid);
  EXPECT_EQ(Aria2DownloadFailure(refused),
            "aria2 下载失败：服务器拒绝了下载（HTTP 403），下载地址可能已经过期，请重新获取。"
            "（aria2：The response status is not successful. status=403）");

  const long first = keeper.ProcessId();
  ASSERT_GT(first, 0);
  kill(static_cast<pid_t>(first), SIGKILL);
  Aria2Status status;
  EXPECT_TRUE(WaitFor([&] { return !keeper.Client()->TellStatus(gid, status, failure); },
                      std::chrono::seconds(5)));
  EXPECT_EQ(failure.message, "本工具启动的 aria2c 没有应答：连不上 " +
                                 keeper.Client()->Endpoint().address +
                                 "。它可能已经退出，下次发送时会重新启动。");
  EXPECT_TRUE(WaitFor([&] { return !keeper.Running(); }, std::chrono::seconds(5)));
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(first)));  // reaped, no zombie

  download = DownloadOf(address, expired.page);
  gid = keeper.Add(download, "", failure);
  ASSERT_FALSE(gid.empty()) << failure.message;
  EXPECT_NE(keeper.ProcessId(), first);
  EXPECT_EQ(Finished(*keeper.Client(), gid).errorCode, "22");
}

// An active download whose answer stalls after its address expired takes
// a fresh address for the same page in place: the same download goes on
// from the bytes it has, on a second login's address.
TEST(Aria2HandOff, AStalledDownloadTakesAFreshAddressInPlaceAndKeepsItsBytes) {
  Service service({"--token-seconds", "2"});
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  const std::string address = service.Resolve();
  ASSERT_FALSE(address.empty());
  HttpCall stall;
  stall.address = service.sim->url("/__test/fault?set=stall-after:20000&path=/dl/*&times=1");
  ASSERT_EQ(PerformHttpCall(Stack(), PlatformThreads(), stall).status, 200);
  const fs::path downloads = FreshDir("stall-dl");
  PrivateEngineKeeper keeper(Stack(), PlatformThreads(),
                             EngineIn(downloads, FreshDir("stall-data")));
  Aria2Download download = DownloadOf(address, service.page);
  Aria2Error failure;
  const std::string gid = keeper.Add(download, Stack().CookieLine(address), failure);
  ASSERT_FALSE(gid.empty()) << failure.message;

  DownloadRenewal renewal(
      gid, download,
      [](const std::string& link) {
        return CheckLink(Stack(), PlatformThreads(), link, kPageUserAgent, 1500).status;
      },
      Clock::now(), std::chrono::milliseconds(1000));
  using State = DownloadRenewal::State;
  State state = State::kUnderWay;
  WaitFor(
      [&] {
        state = renewal.Poll(*keeper.Client(), Clock::now());
        if (state == State::kNeedsAddress) {
          state =
              renewal.Supply(*keeper.Client(),
                             {FreshAddress::Kind::kAddress, service.Resolve(), {}}, Clock::now());
        }
        return state != State::kUnderWay;
      },
      std::chrono::seconds(30));
  EXPECT_EQ(state, State::kComplete) << renewal.Message();
  EXPECT_EQ(renewal.Gid(), gid);
  EXPECT_EQ(renewal.Renewals(), 1);
  EXPECT_TRUE(ReadFile(downloads / download.fileName) == service.content);
  // The engine went on from its bytes on the fresh address; link checks
  // (a first byte each) may come before or after.
  const auto fetched = service.Log("GET /dl/");
  ASSERT_FALSE(fetched.empty());
  const bool resumed = std::any_of(fetched.begin(), fetched.end(), [&](const auto& request) {
    return Has(Headers(request), "Range: bytes=20000-") &&
           request["request_line"] != fetched.front()["request_line"];
  });
  EXPECT_TRUE(resumed);
  EXPECT_EQ(service.Log("POST /guest_loginV2.php").size(), 2u);
}

TEST(Aria2HandOff, TheSecretGoesOnlyToTheEnginesOwnPort) {
  // Someone else's listener on the port the engine is handed first.
  test::LoopbackServer squatter(
      test::LoopbackServer::Answer(test::HttpResponse(R"({"jsonrpc":"2.0","result":{}})")));
  PrivateEngineOptions options = EngineIn(FreshDir("squat-dl"), FreshDir("squat-data"));
  options.rpcPorts = {squatter.port()};
  std::string error;
  auto engine = PrivateEngine::Start(Stack(), PlatformThreads(), options, error);
  ASSERT_TRUE(engine) << error;
  EXPECT_NE(Port(engine->Endpoint().address), std::to_string(squatter.port()));
  Aria2Client client(Stack(), PlatformThreads(), engine->Endpoint());
  Aria2Error failure;
  EXPECT_FALSE(client.GetVersion(failure).empty()) << failure.message;
  EXPECT_TRUE(squatter.requests().empty());
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
  // The secret's file is gone, and nothing is kept to resume at a later start.
  EXPECT_TRUE(fs::is_empty(data));
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
  auto engine =
      PrivateEngine::Start(Stack(), PlatformThreads(), EngineIn(FreshDir("own-dl"), data), error);
  ASSERT_TRUE(engine) << error;
  const long pid = engine->ProcessId();
  engine.reset();
  EXPECT_TRUE(Ended(pid));
  EXPECT_TRUE(fs::is_empty(data));
}

TEST(Aria2HandOff, MissingEngineSaysHowToInstallIt) {
  std::string error;
  PrivateEngineOptions options = EngineIn("", FreshDir("none"));
  options.program = "aria2c-not-installed";
  auto engine = PrivateEngine::Start(Stack(), PlatformThreads(), options, error);
  EXPECT_FALSE(engine);
  EXPECT_EQ(error,
            "找不到下载引擎 aria2c。请先安装 aria2（Debian、Ubuntu：sudo apt install aria2），"
            "或填写一个正在运行的 aria2 的 RPC 地址。");
}

TEST(Aria2HandOff, FailuresBecomeSentences) {
  Service service;
  ASSERT_TRUE(service.sim->ok()) << service.sim->error();
  std::string error;
  auto engine = PrivateEngine::Start(Stack(), PlatformThreads(),
                                     EngineIn(FreshDir("f-dl"), FreshDir("f-data")), error);
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
      {{"http://127.0.0.1:9/jsonrpc", "", true},
       Aria2Failure::kUnreachable,
       "本工具启动的 aria2c 没有应答：连不上 http://127.0.0.1:9/jsonrpc。"
       "它可能已经退出，下次发送时会重新启动。"},
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

  // Only http and https reach an engine: the rest is refused before any call.
  test::LoopbackServer listener(test::LoopbackServer::Answer(test::HttpResponse("{}")));
  Aria2Client recorded(Stack(), PlatformThreads(),
                       {"http://" + listener.authority() + "/jsonrpc", "s"});
  PrivateEngineKeeper keeper(Stack(), PlatformThreads(),
                             EngineIn(FreshDir("f-keeper"), FreshDir("f-keeper-data")));
  for (const char* address : {"magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567",
                              "ftp://127.0.0.1/a.bin", "file:///etc/passwd"}) {
    EXPECT_TRUE(recorded.AddUri(DownloadOf(address, ""), failure).empty());
    EXPECT_EQ(failure.failure, Aria2Failure::kNotDownload) << address;
    EXPECT_EQ(failure.message, "下载地址不是 http:// 或 https:// 地址，没有交给 aria2。");
    Aria2Download download = DownloadOf(address, "");
    EXPECT_TRUE(keeper.Add(download, "a=1", failure).empty());
    EXPECT_EQ(failure.failure, Aria2Failure::kNotDownload) << address;
  }
  EXPECT_TRUE(listener.requests().empty());
  EXPECT_FALSE(keeper.Running());
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
