// The result box's engine items and the downloads model without a window:
// what a dead engine and a dead address come to, and the settings kept as
// the dialog left them.
#include "app/window_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fake_window_view.h"
#include "http/http_stack_curl.h"
#include "http/worker_thread.h"

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
  void Raise() override { ++raised; }
  void ShowTransfer(std::size_t row, const Transfer& transfer) override {
    shown.emplace_back(row, transfer);
  }
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

}  // namespace
}  // namespace sorrel
