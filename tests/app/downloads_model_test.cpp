// The downloads model's actions over an engine of the test's own: what each
// state of a transfer offers, the engine calls and the files each action
// comes to, and the questions asked before a partial file goes.
#include "app/downloads_model.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "fake_aria2.h"
#include "fake_window_view.h"
#include "http/http_stack_curl.h"
#include "http/worker_thread.h"
#include "test_helpers/loopback_server.h"

namespace sorrel {
namespace {

using A = TransferAction;
using nlohmann::json;
using test::FakeAria2;

HttpStack& Stack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

class FakeDownloadsView : public DownloadsView {
 public:
  DownloadsModel* model = nullptr;
  std::vector<std::size_t> dropped;
  std::vector<std::string> boxes;  // "title|text"
  bool answer = true;
  std::vector<std::string> opened;
  bool opens = true;

  void Bind(DownloadsModel* bound) override { model = bound; }
  void Raise() override {}
  void ShowTransfer(std::size_t, const Transfer&) override {}
  void DropTransfer(std::size_t row) override { dropped.push_back(row); }
  bool Ask(const std::string& title, const std::string& question) override {
    boxes.push_back(title + "|" + question);
    return answer;
  }
  void Tell(const std::string& title, const std::string& text) override {
    boxes.push_back(title + "|" + text);
  }
  bool OpenPath(const std::string& path) override {
    opened.push_back(path);
    return opens;
  }
};

// One transfer of "a.bin" sent to the fake engine, into a folder of the
// test's own, and the engine's word that it is in `status`.
struct Harness {
  const std::filesystem::path base = std::filesystem::temp_directory_path() /
                                     ("sorrel-downloads-model-" + std::to_string(getpid()));
  const std::string folder = (base / "下载").string();
  const std::string file = folder + "/a.bin";
  FakeAria2 engine;
  test::FakeWindowView window;
  FakeDownloadsView view;
  std::unique_ptr<DownloadsModel> model = std::make_unique<DownloadsModel>(
      EngineAccess{Stack(), PlatformThreads(), "test-agent"}, view, window);

  Harness() {
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(folder);
  }
  ~Harness() {
    model.reset();
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
  }

  template <typename Done>
  bool Until(Done done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
      window.RunLater();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
  }

  void Send() {
    DownloadSettings settings;
    settings.address = engine.Address();
    settings.folder = folder;
    model->Send(settings, "http://127.0.0.1:9/dl/t/a.bin", "http://127.0.0.1:9/file/1");
  }

  const Transfer& First() { return model->Transfers().at(0); }

  // Sends the transfer and waits until the engine's `status` has reached it.
  bool SendIn(const std::string& status, const std::string& path) {
    json report = {{"status", status}, {"totalLength", "100"}, {"completedLength", "40"}};
    if (status == "error") report["errorCode"] = "3";
    report["files"] = json::array({{{"path", path}}});
    engine.Report(report);
    Send();
    const std::size_t before = model->Transfers().size();
    return Until([&] {
      return model->Transfers().size() > before && model->Transfers().back().permille == 400;
    });
  }

  // Waits until everything handed to the engine's thread before has run.
  bool Settle() {
    const std::size_t rows = model->Transfers().size();
    engine.Report({{"status", "active"}});
    Send();
    return Until([&] { return model->Transfers().size() > rows; });
  }
};

TEST(DownloadsModel, EachStateOffersItsActions) {
  const struct {
    const char* status;
    TransferPhase phase;
    std::vector<A> offered;
  } rows[] = {
      {"active", TransferPhase::kActive, {A::kPause, A::kRemove}},
      {"waiting", TransferPhase::kWaiting, {A::kPause, A::kRemove}},
      {"paused", TransferPhase::kPaused, {A::kResume, A::kRemove}},
      {"complete", TransferPhase::kComplete, {A::kOpenFile, A::kOpenFolder, A::kRemove}},
      {"error", TransferPhase::kFailed, {A::kRetry, A::kRemove}},
      {"removed", TransferPhase::kFailed, {A::kRetry, A::kRemove}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.status);
    Harness h;
    ASSERT_TRUE(h.SendIn(row.status, h.file));
    EXPECT_EQ(h.First().phase, row.phase);
    EXPECT_EQ(h.model->Actions(0), row.offered);
    EXPECT_EQ(h.First().path, h.file);
    EXPECT_TRUE(h.model->Actions(1).empty());
  }
  std::vector<std::string> texts;
  for (A action : {A::kPause, A::kResume, A::kRemove, A::kRetry, A::kOpenFile, A::kOpenFolder}) {
    texts.emplace_back(DownloadsModel::ActionText(action));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"暂停", "继续", "删除", "重试", "打开文件",
                                             "打开所在文件夹"}));
}

TEST(DownloadsModel, ATransferTheEngineDidNotTakeCanBeSentAgain) {
  Harness h;
  DownloadSettings settings;
  settings.address = "http://127.0.0.1:9/jsonrpc";
  settings.folder = h.folder;
  h.model->Send(settings, "http://127.0.0.1:9/dl/t/a.bin", "http://127.0.0.1:9/file/1");
  ASSERT_TRUE(h.Until([&] { return !h.model->Transfers().empty(); }));
  EXPECT_EQ(h.First().phase, TransferPhase::kFailed);
  EXPECT_EQ(h.model->Actions(0), (std::vector<A>{A::kRetry, A::kRemove}));
  h.model->Act(0, A::kRetry);
  EXPECT_EQ(h.First().state, "等待中");
  EXPECT_TRUE(h.model->Actions(0).empty());
  ASSERT_TRUE(h.Until([&] { return h.First().phase == TransferPhase::kFailed; }));
  EXPECT_EQ(h.model->Transfers().size(), 1u);
  h.model->Act(0, A::kRemove);
  EXPECT_TRUE(h.view.boxes.empty());
  EXPECT_EQ(h.view.dropped, std::vector<std::size_t>{0});
  EXPECT_TRUE(h.model->Transfers().empty());
}

TEST(DownloadsModel, EachActionComesToItsCallsAndFiles) {
  const std::string gid = R"(["00000000000000a1"])";
  const std::string question = "删除下载|“a.bin”还没有下载完。要删除它和已经下载的部分吗？";
  const struct {
    const char* name;
    const char* status;
    A action;
    bool partial;  // a part of the file and its control file lie in the folder
    bool answer;
    int refusals;  // of the result's removal
    std::vector<std::string> calls;
    std::vector<std::string> boxes;
    bool dropped;
    bool filesStay;
  } rows[] = {
      {"pause", "active", A::kPause, true, true, 0, {"aria2.pause " + gid}, {}, false, true},
      {"go on", "paused", A::kResume, true, true, 0, {"aria2.unpause " + gid}, {}, false, true},
      {"pause what is paused", "paused", A::kPause, true, true, 0, {}, {}, false, true},
      {"remove a finished one",
       "complete",
       A::kRemove,
       true,
       true,
       0,
       {"aria2.remove " + gid, "aria2.removeDownloadResult " + gid},
       {},
       true,
       true},
      {"keep a partial file", "error", A::kRemove, true, false, 0, {}, {question}, false, true},
      {"remove a failed one",
       "error",
       A::kRemove,
       true,
       true,
       0,
       {"aria2.remove " + gid, "aria2.removeDownloadResult " + gid},
       {question},
       true,
       false},
      {"remove a running one once the engine lets go",
       "active",
       A::kRemove,
       true,
       true,
       2,
       {"aria2.remove " + gid, "aria2.removeDownloadResult " + gid,
        "aria2.removeDownloadResult " + gid, "aria2.removeDownloadResult " + gid},
       {question},
       true,
       false},
      {"remove without a file, unasked",
       "paused",
       A::kRemove,
       false,
       false,
       0,
       {"aria2.remove " + gid, "aria2.removeDownloadResult " + gid},
       {},
       true,
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h;
    ASSERT_TRUE(h.SendIn(row.status, h.file));
    // The user's own file beside it, and one of the same name elsewhere.
    std::ofstream(h.folder + "/b.bin") << "own";
    if (row.partial) {
      std::ofstream(h.file) << "part";
      std::ofstream(h.file + ".aria2") << "control";
    }
    h.engine.Forget();
    h.engine.RefuseResults(row.refusals);
    h.view.answer = row.answer;
    h.model->Act(0, row.action);
    ASSERT_TRUE(h.Settle());
    auto calls = h.engine.Calls();
    calls.pop_back();  // the settling send
    EXPECT_EQ(calls, row.calls);
    EXPECT_EQ(h.view.boxes, row.boxes);
    EXPECT_EQ(h.view.dropped,
              row.dropped ? std::vector<std::size_t>{0} : std::vector<std::size_t>{});
    EXPECT_EQ(h.model->Transfers().size(), row.dropped ? 1u : 2u);
    if (row.partial) {
      EXPECT_EQ(std::filesystem::exists(h.file), row.filesStay);
      EXPECT_EQ(std::filesystem::exists(h.file + ".aria2"), row.filesStay);
    }
    EXPECT_TRUE(std::filesystem::exists(h.folder + "/b.bin"));
  }
}

TEST(DownloadsModel, ARetryTakesUpTheSameFileInTheSameFolder) {
  Harness h;
  ASSERT_TRUE(h.SendIn("error", h.file));
  h.engine.Forget();
  h.engine.Report({{"status", "active"}, {"files", json::array({{{"path", h.file}}})}});
  h.model->Act(0, A::kRetry);
  EXPECT_EQ(h.First().state, "等待中");
  ASSERT_TRUE(h.Until([&] { return h.First().phase == TransferPhase::kActive; }));
  EXPECT_EQ(h.First().gid, "00000000000000a2");
  const auto calls = h.engine.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], R"(aria2.removeDownloadResult ["00000000000000a1"])");
  const json added = json::parse(calls[1].substr(calls[1].find(' ') + 1));
  EXPECT_EQ(added[0], json::array({"http://127.0.0.1:9/dl/t/a.bin"}));
  EXPECT_EQ(added[1]["dir"], h.folder);
  EXPECT_EQ(added[1]["out"], "a.bin");
  EXPECT_EQ(added[1]["auto-file-renaming"], "false");
  EXPECT_EQ(added[1]["allow-overwrite"], "false");
}

// An engine's word never points the tool at a file outside the folder it
// was given: what it opens and deletes is the name sent, in that folder.
TEST(DownloadsModel, OpensAndDeletesOnlyInTheDownloadFolder) {
  Harness h;
  const std::string elsewhere = (h.base / "elsewhere.bin").string();
  std::ofstream(elsewhere) << "not the engine's";
  ASSERT_TRUE(h.SendIn("error", elsewhere));
  EXPECT_EQ(h.First().path, h.file);
  std::ofstream(h.file) << "part";
  h.model->Act(0, A::kRemove);
  ASSERT_TRUE(h.Settle());
  EXPECT_TRUE(std::filesystem::exists(elsewhere));
  EXPECT_FALSE(std::filesystem::exists(h.file));
}

TEST(DownloadsModel, AFinishedTransferOpensOnADoubleClick) {
  Harness h;
  ASSERT_TRUE(h.SendIn("active", h.file));
  h.model->Activate(0);
  EXPECT_TRUE(h.view.opened.empty());
  h.engine.Report({{"status", "complete"}});
  ASSERT_TRUE(h.Until([&] { return h.First().phase == TransferPhase::kComplete; }));
  h.model->Activate(0);
  h.model->Act(0, A::kOpenFolder);
  EXPECT_EQ(h.view.opened, (std::vector<std::string>{h.file, h.folder}));
  h.view.opens = false;
  h.model->Act(0, A::kOpenFile);
  EXPECT_EQ(h.view.boxes, std::vector<std::string>{"打开|无法打开 " + h.file + "。"});
}

TEST(DownloadsModel, AnEnginesPathCountsOnlyDirectlyInTheFolder) {
  const struct {
    const char* folder;
    const char* reported;
    const char* name;
  } rows[] = {
      {"/home/u/下载", "/home/u/下载/a.bin", "a.bin"},
      {"/home/u/下载/", "/home/u/下载/a.bin", "a.bin"},
      {"C:\\Users\\u\\Downloads", "C:/Users/u/Downloads/a.bin", "a.bin"},
      {"/", "/a.bin", "a.bin"},
      {"/home/u/下载", "/home/u/下载/sub/a.bin", ""},
      {"/home/u/下载", "/home/u/下载/../.bashrc", ""},
      {"/home/u/下载", "/home/u/下载/..", ""},
      {"/home/u/下载", "/home/u/下载2/a.bin", ""},
      {"/home/u/下载", "/home/u/下载/", ""},
      {"", "/a.bin", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(NameInFolder(row.folder, row.reported), row.name) << row.reported;
  }
}

TEST(DownloadsModel, TheWindowsLayoutIsKeptInOneLine) {
  const DownloadsLayout first;
  const DownloadsLayout wide{1200, 500, {400, 100, 80, 300}};
  EXPECT_EQ(LayoutText(wide), "1200x500;400,100,80,300");
  const struct {
    const char* text;
    DownloadsLayout layout;
  } rows[] = {
      {"1200x500;400,100,80,300", wide},
      {"", first},
      {"1200x500", first},
      {"1200x500;400,100,80", first},
      {"1200x500;400,100,80,300,5", first},
      {"1200x500;400,100,-80,300", first},
      {"1200x50;400,100,80,300", first},
      {"99999999999x500;400,100,80,300", first},
      {"1200x500;400,100,80,3", first},
      {"1200x500;400,100,80,300;", first},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseLayout(row.text), row.layout) << row.text;
}

}  // namespace
}  // namespace sorrel
