// The result box's engine items and the downloads model without a window:
// what a dead engine, a failed download and a dead address come to, and the
// settings kept as the dialog left them.
#include "app/window_engine.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "fake_window_view.h"
#include "http/http_stack_curl.h"
#include "http/worker_thread.h"
#include "test_helpers/loopback_server.h"

namespace sorrel {
namespace {

// Workers abandoned at a time-out may outlive a test, so the stack lives on.
HttpStack& Stack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

class FakeStore : public SettingsStore {
 public:
  DownloadSettings stored;
  std::vector<DownloadSettings> saved;
  bool writable = true;
  DownloadSettings Load() override { return stored; }
  bool Save(const DownloadSettings& settings) override {
    saved.push_back(settings);
    return writable;
  }
};

class FakeFront : public EngineView, public DownloadsView {
 public:
  std::optional<DownloadSettings> edited;
  std::vector<std::pair<std::size_t, Transfer>> shown;
  int raised = 0;
  DownloadsView& OpenDownloads() override { return *this; }
  bool EditSettings(DownloadSettings& settings) override {
    if (!edited) return false;
    settings = *edited;
    return true;
  }
  std::string SystemProxy(std::string_view address) override {
    systemAsked.emplace_back(address);
    return systemProxy;
  }
  std::string systemProxy;
  std::vector<std::string> systemAsked;
  void Bind(DownloadsModel*) override {}
  void Raise() override { ++raised; }
  void ShowTransfer(std::size_t row, const Transfer& transfer) override {
    shown.emplace_back(row, transfer);
  }
  // The downloads' actions are the downloads model's tests' own.
  void DropTransfer(std::size_t) override {}
  bool Ask(const std::string&, const std::string&) override { return false; }
  void Tell(const std::string&, const std::string&) override {}
  bool OpenPath(const std::string&) override { return false; }
};

struct Harness {
  test::FakeWindowView window;
  FakeFront front;
  FakeStore store;
  WindowEngine engine{{Stack(), PlatformThreads(), "test-agent"}, window, front, store};

  // Runs the window's turns until `done`, for at most 20 s.
  template <typename Done>
  bool Until(Done done) {
    for (int i = 0; i < 2000 && !done(); ++i) {
      window.RunLater();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
  }
};

TEST(WindowEngine, ADeadEngineGivesARowThatSaysSo) {
  Harness h;
  h.store.stored.address = "http://127.0.0.1:9/jsonrpc";
  h.engine.Send("http://127.0.0.1:9/dl/t/%E6%A0%B7%E6%9C%AC.bin", "http://127.0.0.1:9/file/1");
  EXPECT_EQ(h.front.raised, 1);
  ASSERT_TRUE(h.Until([&] { return !h.front.shown.empty(); }));
  const auto& [row, transfer] = h.front.shown[0];
  EXPECT_EQ(row, 0u);
  EXPECT_EQ(transfer.name, "样本.bin");
  EXPECT_TRUE(transfer.gid.empty());
  EXPECT_EQ(
      transfer.state,
      "出错：aria2 没有应答：连不上 http://127.0.0.1:9/jsonrpc。请确认 aria2 正在运行并开启了 "
      "RPC。");
  ASSERT_NE(h.engine.Downloads(), nullptr);
  EXPECT_EQ(h.engine.Downloads()->Transfers().size(), 1u);
}

// A download folder of the test's own, and the tool's own engine's files
// beside it; removed with the object, once the engine has ended.
struct OwnFolders {
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("sorrel-window-engine-" + std::to_string(getpid()));
  const std::string downloads = (base / "downloads").string();

  OwnFolders() {
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(downloads);
    setenv("XDG_DATA_HOME", (base / "data").c_str(), 1);
  }
  ~OwnFolders() {
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
  }
};

// The aria2c this process started, or 0.
long OwnEngine() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    long pid = 0, parent = 0;
    std::string name;
    char state = 0;
    if (stat >> pid >> name >> state >> parent && parent == getpid() && name == "(aria2c)") {
      return pid;
    }
  }
  return 0;
}

char ProcessState(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  long ignored = 0;
  std::string name;
  char state = 0;
  stat >> ignored >> name >> state;
  return state;
}

// The window's requests and the engine's downloads take the road of the
// settings; the desktop's proxy stands in for "system", and SOCKS, which
// aria2 lacks, is refused rather than sent another way.
TEST(WindowEngine, TheRoadOfTheSettingsReachesTheRequestsAndTheEngine) {
  struct Row {
    ProxySetting proxy;
    std::string desktop;
    std::string requests;  // the proxy text of the window's requests
    std::string engine;    // the addUri call's proxy options, or the row's state
  };
  const Row rows[] = {
      {{}, "http://desk:1", "", ""},
      {{ProxyKind::kSystem},
       "http://u:p@desk:1",
       "http://u:p@desk:1",
       R"("all-proxy":"http://desk:1","all-proxy-passwd":"p","all-proxy-user":"u")"},
      {{ProxyKind::kSystem}, "", "", ""},
      {{ProxyKind::kHttp, "h", 8080, "ann", "pw"},
       "http://desk:1",
       "http://ann:pw@h:8080",
       R"("all-proxy":"http://h:8080","all-proxy-passwd":"pw","all-proxy-user":"ann")"},
      {{ProxyKind::kSocks5, "s", 1080},
       "",
       "socks5h://s:1080",
       "出错：aria2 不能经 SOCKS 代理下载：请在下载设置里改用 HTTP 代理。"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.requests);
    test::LoopbackServer server(test::LoopbackServer::Answer(
        test::HttpResponse(R"({"id":"sorrel-1","jsonrpc":"2.0","result":"0123456789abcdef"})")));
    Harness h;
    h.store.stored.address = "http://" + server.authority() + "/jsonrpc";
    h.store.stored.proxy = row.proxy;
    h.front.systemProxy = row.desktop;
    EXPECT_EQ(h.engine.Proxy("http://service/"), row.requests);
    h.engine.Send("http://127.0.0.1:9/dl/t/a.bin", "http://127.0.0.1:9/file/1");
    ASSERT_TRUE(h.Until([&] { return !h.front.shown.empty(); }));
    if (row.proxy.kind == ProxyKind::kSocks5) {
      EXPECT_EQ(h.front.shown[0].second.state, row.engine);
      EXPECT_TRUE(server.requests().empty());
      continue;
    }
    ASSERT_FALSE(server.requests().empty());
    const std::string call = server.requests()[0];
    std::string proxyOptions;
    for (std::size_t at = call.find("\"all-proxy"); at != std::string::npos;
         at = call.find("\"all-proxy", at + 1)) {
      const std::size_t end = call.find_first_of(",}", call.find(':', at) + 1);
      proxyOptions += (proxyOptions.empty() ? "" : ",") + call.substr(at, end - at);
    }
    EXPECT_EQ(proxyOptions, row.engine) << call;
  }
}

TEST(WindowEngine, AFailedDownloadSaysSoOnceUnderTheNameItWasGiven) {
  test::LoopbackServer server(
      test::LoopbackServer::Answer(test::HttpResponse("gone", "", "404 Not Found")));
  OwnFolders folders;
  Harness h;
  h.store.stored.folder = folders.downloads;
  std::ofstream(h.store.stored.folder + "/gone.bin") << "the user's own";
  h.engine.Send("http://" + server.authority() + "/dl/t/gone.bin", "http://127.0.0.1:9/file/1");
  const auto& transfers = h.engine.Downloads()->Transfers();
  ASSERT_TRUE(h.Until([&] {
    return !transfers.empty() && transfers[0].state != "等待中" && transfers[0].state != "下载中";
  }));
  const Transfer& failed = transfers[0];
  EXPECT_EQ(failed.name, "gone.1.bin");
  std::ifstream own(h.store.stored.folder + "/gone.bin");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(own), {}), "the user's own");
  const std::string sentence =
      "aria2 下载失败：服务器上没有这个文件（HTTP 404）。"
      "（aria2：Resource not found）";
  EXPECT_EQ(failed.state, sentence);
  EXPECT_EQ(failed.detail, sentence);
}

// The transfers of an engine of the tool's own that died end as partial,
// also when the next send has started another engine that knows nothing of
// them.
TEST(WindowEngine, ADeadEnginesTransfersEndAsPartialAfterTheNextSend) {
  // Each download gets part of its file, then nothing more.
  test::LoopbackServer server([](const std::string&, test::LoopbackServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(4096, 'x'));
    c.HoldOpen();
  });
  OwnFolders folders;
  Harness h;
  const std::string folder = folders.downloads;
  h.store.stored.folder = folder;
  const std::string dl = "http://" + server.authority() + "/dl/t/";
  h.engine.Send(dl + "first.bin", "http://127.0.0.1:9/file/1");
  ASSERT_TRUE(h.Until([&] {
    return h.engine.Downloads() && !h.engine.Downloads()->Transfers().empty() &&
           h.engine.Downloads()->Transfers()[0].state == "下载中";
  }));
  const long first = OwnEngine();
  ASSERT_GT(first, 0);
  kill(static_cast<pid_t>(first), SIGKILL);
  ASSERT_TRUE(h.Until([&] { return ProcessState(first) == 'Z'; }));

  h.engine.Send(dl + "second.bin", "http://127.0.0.1:9/file/2");
  const auto& transfers = h.engine.Downloads()->Transfers();
  ASSERT_TRUE(h.Until([&] {
    return transfers.size() == 2 && transfers[1].state == "下载中" &&
           transfers[0].state.rfind("已中断", 0) == 0;
  })) << transfers[0].state;
  EXPECT_EQ(transfers[0].state,
            "已中断：本工具启动的 aria2c 已经退出，" + folder + "/first.bin 只下载了一部分。");
  EXPECT_NE(OwnEngine(), first);
  for (const auto& [row, transfer] : h.front.shown) {
    EXPECT_EQ(transfer.state.find("GID"), std::string::npos) << row << transfer.state;
  }
}

TEST(WindowEngine, CheckOfADeadAddressReportsOnTheWindowsThread) {
  Harness h;
  std::optional<CheckReport> report;
  h.engine.Check("http://127.0.0.1:9/dl/t/a.zip", [&](const CheckReport& r) { report = r; });
  EXPECT_TRUE(h.engine.Checking());
  ASSERT_TRUE(h.Until([&] { return report.has_value(); }));
  EXPECT_FALSE(h.engine.Checking());
  EXPECT_EQ(report->text, u"文件名：a.zip\r\n大小：未知\r\n状态：下载地址无法访问。");
  EXPECT_FALSE(report->expired);
}

TEST(WindowEngine, SettingsAreKeptAsTheDialogLeftThem) {
  Harness h;
  h.engine.EditSettings();
  EXPECT_TRUE(h.store.saved.empty());  // cancelled

  h.front.edited = DownloadSettings{" http://h:6800/jsonrpc\t", " s ", " /tmp/d ", true};
  h.engine.EditSettings();
  const DownloadSettings kept{"http://h:6800/jsonrpc", " s ", "/tmp/d", true};
  EXPECT_EQ(h.store.saved, std::vector<DownloadSettings>{kept});
  EXPECT_TRUE(h.window.boxes.empty());

  h.store.writable = false;
  h.engine.EditSettings();
  EXPECT_EQ(h.window.boxes, std::vector<std::u16string>{u"下载设置|无法保存下载设置。"});
  h.store.stored.sendOpenedLinks = true;
  EXPECT_TRUE(h.engine.SendsOpenedLinks());
}

TEST(WindowEngine, TheDialogWarnsOfAPlainAddressOfAnotherMachine) {
  const std::string warning =
      "这个 aria2 地址不加密（http://），RPC 密钥和下载地址会以明文经过网络。";
  const struct {
    const char* address;
    std::string shown;
  } cases[] = {
      {" http://192.0.2.1:6800/jsonrpc\t", warning},
      {"https://192.0.2.1:6800/jsonrpc", ""},
      {"http://127.0.0.1:6800/jsonrpc", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AddressWarning(c.address), c.shown) << c.address;
}

}  // namespace
}  // namespace sorrel
