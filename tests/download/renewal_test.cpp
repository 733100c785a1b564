// The renewal's decisions: which engine reports mean an expired address,
// how a fresh address reaches the download, and what a renewal refuses to
// do, against an engine that answers from a script.
#include "download/renewal.h"

#include <gtest/gtest.h>

#include <mutex>
#include <nlohmann/json.hpp>

#include "http/http_stack_curl.h"
#include "http/worker_thread.h"
#include "test_helpers/loopback_server.h"

namespace sorrel {
namespace {

using nlohmann::json;
using State = DownloadRenewal::State;
using Clock = DownloadRenewal::Clock;

constexpr const char* kOld = "http://h/dl/old/x.bin";
constexpr const char* kNew = "http://h/dl/new/x.bin";

HttpStack& Stack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

// A tellStatus answer as aria2 gives it: numbers as text, the first file's
// path and addresses.
json Report(const std::string& status, long long completed, const std::string& code = "",
            const std::string& words = "", std::vector<std::string> uris = {kOld}) {
  json files = json::array({{{"path", "/d/样本.bin"}, {"uris", json::array()}}});
  for (const std::string& uri : uris) files[0]["uris"].push_back({{"uri", uri}});
  return {{"gid", "00000000000000a1"}, {"status", status},
          {"totalLength", "50000"},    {"completedLength", std::to_string(completed)},
          {"downloadSpeed", "0"},      {"errorCode", code},
          {"errorMessage", words},     {"dir", "/d"},
          {"files", std::move(files)}};
}

// An engine that gives the next scripted report at each tellStatus (the
// last one again once they run out) and notes every call.
class ScriptedEngine {
 public:
  explicit ScriptedEngine(std::vector<json> reports, bool own = false)
      : reports_(std::move(reports)),
        server_([this](const std::string& request, test::LoopbackServer::Connection& c) {
          const json call = json::parse(request.substr(request.find("\r\n\r\n") + 4));
          json result = "00000000000000a1";
          {
            std::lock_guard lock(mutex_);
            calls_.push_back(call);
            if (call["method"] == "aria2.tellStatus") {
              result = reports_[std::min(next_++, reports_.size() - 1)];
            } else if (call["method"] == "aria2.changeUri") {
              result = {1, 1};
            } else if (call["method"] == "aria2.addUri") {
              result = "00000000000000b2";
            }
          }
          c.Write(test::HttpResponse(
              json{{"jsonrpc", "2.0"}, {"id", call["id"]}, {"result", result}}.dump()));
        }),
        client_(Stack(), PlatformThreads(),
                {"http://" + server_.authority() + "/jsonrpc", "", own}) {}

  Aria2Client& Client() { return client_; }
  // The methods called after tellStatus, with their parameters.
  std::vector<std::string> Changes() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> changes;
    for (const json& call : calls_) {
      if (call["method"] != "aria2.tellStatus") {
        changes.push_back(std::string(call["method"]) + " " + call["params"].dump());
      }
    }
    return changes;
  }

 private:
  std::mutex mutex_;
  std::vector<json> reports_;
  std::size_t next_ = 0;
  std::vector<json> calls_;
  test::LoopbackServer server_;
  Aria2Client client_;
};

struct Watched {
  Watched(ScriptedEngine& engine, std::string page = "http://h/file/1")
      : engine(engine),
        renewal(
            "00000000000000a1", Handed(std::move(page)),
            [this](const std::string& address) {
              checked.push_back(address);
              return linkStatus;
            },
            start, std::chrono::seconds(5)) {}

  static Aria2Download Handed(std::string page) {
    Aria2Download d;
    d.address = kOld;
    d.fileName = "样本.bin";
    d.dir = "/d";
    d.referer = std::move(page);
    d.userAgent = "UA";
    return d;
  }
  State Poll(int second = 0) {
    return renewal.Poll(engine.Client(), start + std::chrono::seconds(second));
  }
  State Supply(FreshAddress fresh) {
    return renewal.Supply(engine.Client(), fresh, start + std::chrono::seconds(60));
  }

  ScriptedEngine& engine;
  Clock::time_point start = Clock::now();
  LinkStatus linkStatus = LinkStatus::kExpired;
  std::vector<std::string> checked;
  DownloadRenewal renewal;
};

const FreshAddress kFresh{FreshAddress::Kind::kAddress, kNew, {}};

TEST(RenewalDecisions, WhatTheEnginesReportsSayAboutTheAddress) {
  const struct {
    const char *status, *code, *words;
    EngineVerdict verdict;
    RenewalStep step;
  } cases[] = {
      {"active", "", "", EngineVerdict::kUnderWay, RenewalStep::kChangeUri},
      {"waiting", "", "", EngineVerdict::kUnderWay, RenewalStep::kChangeUri},
      {"paused", "", "", EngineVerdict::kUnderWay, RenewalStep::kChangeUri},
      {"complete", "0", "", EngineVerdict::kComplete, RenewalStep::kNone},
      {"removed", "31", "", EngineVerdict::kFailed, RenewalStep::kNone},
      {"error", "22", "The response status is not successful. status=403", EngineVerdict::kExpired,
       RenewalStep::kAddAgain},
      {"error", "22", "The response status is not successful. status=410", EngineVerdict::kExpired,
       RenewalStep::kAddAgain},
      {"error", "22", "No URI available.", EngineVerdict::kUncertain, RenewalStep::kAddAgain},
      {"error", "22", "The response status is not successful. status=500",
       EngineVerdict::kUncertain, RenewalStep::kAddAgain},
      {"error", "1", "No URI available.", EngineVerdict::kUncertain, RenewalStep::kAddAgain},
      {"error", "8", "Resume not supported", EngineVerdict::kUncertain, RenewalStep::kAddAgain},
      {"error", "3", "Resource not found", EngineVerdict::kFailed, RenewalStep::kAddAgain},
      {"error", "2", "Timeout.", EngineVerdict::kFailed, RenewalStep::kAddAgain},
      {"error", "9", "No space left", EngineVerdict::kFailed, RenewalStep::kAddAgain},
      {"error", "13", "File exists", EngineVerdict::kFailed, RenewalStep::kAddAgain},
  };
  for (const auto& c : cases) {
    Aria2Status status;
    status.status = c.status;
    status.errorCode = c.code;
    status.errorMessage = c.words;
    EXPECT_EQ(ReadEngineReport(status), c.verdict) << c.status << " " << c.code << c.words;
    EXPECT_EQ(StepFor(status), c.step) << c.status;
  }
}

TEST(Renewal, AStoppedDownloadIsAddedAgainUnderItsOwnNameAndResumed) {
  const json refused = Report("error", 40000, "22", "status=403");
  ScriptedEngine engine({refused, refused, refused, Report("active", 40960)});
  Watched watched(engine);
  EXPECT_EQ(watched.Poll(), State::kNeedsAddress);
  EXPECT_EQ(watched.Poll(), State::kNeedsAddress);  // waits for the address
  EXPECT_TRUE(watched.checked.empty());
  EXPECT_EQ(watched.Supply(kFresh), State::kUnderWay);
  EXPECT_EQ(watched.renewal.Gid(), "00000000000000b2");
  EXPECT_EQ(watched.renewal.Address(), kNew);
  EXPECT_EQ(watched.Poll(), State::kUnderWay);
  EXPECT_EQ(watched.renewal.Renewals(), 1);
  EXPECT_EQ(engine.Changes(),
            std::vector<std::string>{
                R"(aria2.addUri [["http://h/dl/new/x.bin"],{"allow-overwrite":"false",)"
                R"("auto-file-renaming":"false","continue":"false","dir":"/d",)"
                R"("follow-metalink":"false","follow-torrent":"false","header":["User-Agent: UA"],)"
                R"("out":"样本.bin","referer":"http://h/file/1"}])"});
}

TEST(Renewal, AnActiveDownloadStalledOnAnExpiredAddressGetsTheFreshOneInPlace) {
  ScriptedEngine engine(std::vector<json>{Report("active", 16384, "", "", {kOld, kOld})});
  Watched watched(engine);
  watched.linkStatus = LinkStatus::kOk;
  EXPECT_EQ(watched.Poll(0), State::kUnderWay);
  EXPECT_EQ(watched.Poll(4), State::kUnderWay);
  EXPECT_EQ(watched.Poll(5), State::kUnderWay);  // stalled, but the address still works
  watched.linkStatus = LinkStatus::kExpired;
  EXPECT_EQ(watched.Poll(9), State::kUnderWay);  // checked again only after another stall
  EXPECT_EQ(watched.Poll(10), State::kNeedsAddress);
  EXPECT_EQ(watched.checked, (std::vector<std::string>{kOld, kOld}));
  EXPECT_EQ(watched.Supply(kFresh), State::kUnderWay);
  EXPECT_EQ(watched.renewal.Gid(), "00000000000000a1");
  EXPECT_EQ(engine.Changes(),
            std::vector<std::string>{R"(aria2.changeUri ["00000000000000a1",1,)"
                                     R"(["http://h/dl/old/x.bin","http://h/dl/old/x.bin"],)"
                                     R"(["http://h/dl/new/x.bin"]])"});
}

// Each ends the download with a sentence rather than start it again from
// its first byte or ask for captchas without end.
TEST(Renewal, WhatCannotBeRenewedEndsPlainly) {
  const json expired = Report("error", 40000, "22", "status=403");
  const std::string removal = R"(aria2.forceRemove ["00000000000000a1"])";
  const std::string readded = R"(aria2.addUri [["http://h/dl/new/x.bin"],)";
  const struct {
    const char* name;
    std::vector<json> reports;
    bool own = false;
    std::string page = "http://h/file/1";
    FreshAddress fresh = kFresh;
    LinkStatus link = LinkStatus::kExpired;
    State state;
    std::string message;
    std::vector<std::string> changes;
  } cases[] = {
      {"the address still works",
       {Report("error", 0, "22", "No URI available.")},
       false,
       "http://h/file/1",
       kFresh,
       LinkStatus::kOk,
       State::kFailed,
       "aria2 下载失败：下载服务器的应答不对。（aria2：No URI available.）",
       {}},
      {"no page to renew from",
       {expired},
       false,
       "",
       kFresh,
       LinkStatus::kExpired,
       State::kFailed,
       "aria2 下载失败：服务器拒绝了下载（HTTP 403），下载地址可能已经过期，请重新获取。"
       "（aria2：status=403）",
       {}},
      {"the file is gone",
       {Report("active", 100)},
       false,
       "http://h/file/1",
       FreshAddress{FreshAddress::Kind::kGone, {}, "这个文件已到期或被删除"},
       LinkStatus::kExpired,
       State::kGone,
       "这个文件已到期或被删除",
       {removal}},
      {"no fresh address",
       {expired},
       false,
       "http://h/file/1",
       FreshAddress{FreshAddress::Kind::kFailed, {}, "验证码输入错误，尝试次数已用完。"},
       LinkStatus::kExpired,
       State::kFailed,
       "验证码输入错误，尝试次数已用完。",
       {}},
      {"started again from zero",
       {expired, expired, Report("active", 100)},
       false,
       "http://h/file/1",
       kFresh,
       LinkStatus::kExpired,
       State::kFailed,
       "无法接着下载 /d/样本.bin：aria2 从头开始了下载（已下载的部分或它的控制文件已经不在了），"
       "已停止。",
       {readded, R"(aria2.forceRemove ["00000000000000b2"])"}},
      {"a fresh address that brings nothing",
       {expired, expired, Report("error", 40000, "22", "status=403")},
       false,
       "http://h/file/1",
       kFresh,
       LinkStatus::kExpired,
       State::kFailed,
       "换了新的下载地址，下载仍然没有进展，不再更换。",
       {readded}},
      {"the own engine's control file is gone",
       {expired},
       true,
       "http://h/file/1",
       kFresh,
       LinkStatus::kExpired,
       State::kFailed,
       "无法接着下载 /d/样本.bin：它的 aria2 控制文件（.aria2）已经不在了。"
       "为免从头重新下载，没有再交给 aria2。",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedEngine engine(c.reports, c.own);
    Watched watched(engine, c.page);
    watched.linkStatus = c.link;
    State state = watched.Poll();
    for (int i = 0; i < 3 && state != State::kFailed && state != State::kGone; ++i) {
      state = state == State::kNeedsAddress ? watched.Supply(c.fresh) : watched.Poll(10 + 10 * i);
    }
    EXPECT_EQ(state, c.state);
    EXPECT_EQ(watched.renewal.Message(), c.message);
    std::vector<std::string> changes = engine.Changes();
    for (std::string& change : changes) {
      if (change.rfind(readded, 0) == 0) change = readded;
    }
    EXPECT_EQ(changes, c.changes);
  }
}

class Heard : public RenewalListener {
 public:
  void CaptchaNeeded(const std::string& page) override { pages.push_back(page); }
  std::vector<std::string> pages;
};

TEST(Renewal, OneCaptchaServesEveryDownloadOfItsPage) {
  ScriptedEngine engine(std::vector<json>{Report("error", 40000, "22", "status=403")});
  Heard heard;
  DownloadRenewals renewals(heard, [](const std::string&) { return LinkStatus::kExpired; });
  const auto now = Clock::now();
  renewals.Watch("00000000000000a1", Watched::Handed("http://h/file/1"), now);
  renewals.Watch("00000000000000a2", Watched::Handed("http://h/file/1"), now);
  renewals.Watch("00000000000000a3", Watched::Handed("http://h/file/2"), now);
  renewals.Poll(engine.Client(), now);
  renewals.Poll(engine.Client(), now);
  EXPECT_EQ(heard.pages, (std::vector<std::string>{"http://h/file/1", "http://h/file/2"}));
  renewals.Supply(engine.Client(), "http://h/file/1", kFresh, now);
  EXPECT_EQ(renewals.Find("00000000000000a1")->Renewals(), 1);
  EXPECT_EQ(renewals.Find("00000000000000a2")->Renewals(), 1);
  EXPECT_EQ(renewals.Find("00000000000000a3")->Current(), State::kNeedsAddress);
  EXPECT_EQ(renewals.Find("00000000000000ff"), nullptr);
  EXPECT_EQ(engine.Changes().size(), 2u);
}

}  // namespace
}  // namespace sorrel
