// Lasting cookies between runs: the cookie-file format and its merge, and
// separate runs of the program's cookie handling (tests/http/cookie_process)
// against a loopback server, each test with its own data folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "http/cookie_file.h"
#include "test_helpers/loopback_server.h"

extern char** environ;

namespace sorrel {
namespace {

using test::HttpResponse;
using test::LoopbackServer;

constexpr char kFuture[] = "4102444800";  // 2100-01-01

std::string Line(const std::string& host, const std::string& name, const std::string& value,
                 const std::string& expires = kFuture) {
  return host + "\tFALSE\t/\tFALSE\t" + expires + "\t" + name + "\t" + value;
}

TEST(CookieFileFormatTest, ReadsCookiesAndCommentsAndRefusesAnythingElse) {
  const std::string good = "# Netscape HTTP Cookie File\n\n" + Line("a.test", "x", "1") +
                           "\n#HttpOnly_.B.test\tTRUE\t/p\tTRUE\t0\ty\t\r\n";
  const auto cookies = ParseCookieFile(good);
  ASSERT_TRUE(cookies);
  ASSERT_EQ(cookies->size(), 2u);
  EXPECT_EQ(cookies->at("a.test\t/\tx").expires, 4102444800);
  EXPECT_EQ(cookies->at("b.test\t/p\ty").line, "#HttpOnly_.B.test\tTRUE\t/p\tTRUE\t0\ty\t");
  EXPECT_TRUE(ParseCookieFile(""));

  const std::string torn = Line("a.test", "x", "1") + "\na.test\tFALSE\t/\tFA";
  for (const std::string& bad :
       {torn, std::string("not a cookie file\n"), Line("a.test", "x", "1", "soon"),
        Line("a.test", "x", "1", "-5"), Line("", "x", "1"), Line("a.test", "x", "1\textra"),
        std::string("a.test\tMAYBE\t/\tFALSE\t0\tx\t1"),
        Line("a.test", "x", std::string("1\0", 2))}) {
    EXPECT_FALSE(ParseCookieFile(bad)) << bad;
  }
}

TEST(CookieFileFormatTest, MergeKeepsEveryChangeOfEachCopy) {
  auto set = [](std::initializer_list<std::pair<const char*, const char*>> cookies) {
    std::string text;
    for (const auto& [name, value] : cookies) text += Line("h", name, value) + "\n";
    return *ParseCookieFile(text);
  };
  auto lines = [](const CookieSet& cookies) {
    std::vector<std::string> out;
    for (const auto& entry : cookies) out.push_back(entry.second.line);
    return out;
  };
  // base: what this copy last saw on disk; ours: its store; theirs: the disk now.
  struct Case {
    CookieSet base, ours, theirs;
    CookieSet merged;
  } cases[] = {
      {set({}), set({{"a", "1"}}), set({{"b", "2"}}), set({{"a", "1"}, {"b", "2"}})},
      {set({{"a", "1"}}), set({{"a", "2"}}), set({{"a", "1"}, {"b", "2"}}),
       set({{"a", "2"}, {"b", "2"}})},
      {set({{"a", "1"}}), set({}), set({{"a", "1"}}), set({})},  // this copy removed it
      {set({{"a", "1"}}), set({{"a", "1"}}), set({}), set({})},  // the other removed it
      {set({{"a", "1"}}), set({{"a", "1"}}), set({{"a", "3"}}), set({{"a", "3"}})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lines(MergeCookies(c.base, c.ours, c.theirs, 0)), lines(c.merged));
  }

  const CookieSet expired = *ParseCookieFile(Line("h", "old", "1", "100") + "\n");
  EXPECT_TRUE(MergeCookies({}, {}, expired, 1000).empty());
  EXPECT_TRUE(
      LastingCookies({Line("h", "s", "1", "0"), Line("h", "old", "1", "100")}, 1000).empty());
}

// Runs of the program's cookie handling, each in its own process.
class CookieRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = (std::filesystem::temp_directory_path() / "sorrel-cookies-XXXXXX").string();
    ASSERT_NE(mkdtemp(home_.data()), nullptr);
    file_ = home_ + "/sorrel-resolver/cookies";
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  // Answers each path with the Set-Cookie lines given for it.
  LoopbackServer::Handler Answers(std::map<std::string, std::string> setCookies) {
    return [setCookies](const std::string& request, LoopbackServer::Connection& c) {
      const std::string path = request.substr(4, request.find(' ', 4) - 4);
      const auto found = setCookies.find(path);
      std::string lines;
      if (found != setCookies.end()) {
        std::istringstream each(found->second);
        for (std::string cookie; std::getline(each, cookie, '|');)
          lines += "Set-Cookie: " + cookie + "\r\n";
      }
      c.Write(HttpResponse("ok", lines));
    };
  }

  pid_t Start(const LoopbackServer& server, const std::vector<std::string>& paths,
              bool stallWrite = false) {
    std::vector<std::string> env = {"XDG_DATA_HOME=" + home_};
    if (stallWrite) env.push_back("SORREL_TEST_STALL_WRITE=1");
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string_view(*e).rfind("XDG_DATA_HOME=", 0) != 0) env.push_back(*e);
    }
    std::vector<std::string> args = {SORREL_COOKIE_PROCESS};
    for (const std::string& path : paths) args.push_back(server.authority() + path);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string errors = home_ + "/stderr." + std::to_string(runs_++);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Its exit status and what it wrote to standard error.
  std::pair<int, std::string> Finish(pid_t pid) {
    int status = -1;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            Read(home_ + "/stderr." + std::to_string(runs_ - 1))};
  }

  void RunOnce(const LoopbackServer& server, const std::vector<std::string>& paths) {
    const auto [status, errors] = Finish(Start(server, paths));
    EXPECT_EQ(status, 0) << errors;
    EXPECT_EQ(errors, "");
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The cookies sent with the last request for `path`, sorted.
  static std::vector<std::string> CookiesSent(const LoopbackServer& server,
                                              const std::string& path) {
    std::vector<std::string> cookies;
    for (const std::string& request : server.requests()) {
      if (request.rfind("GET " + path + " ", 0) != 0) continue;
      cookies.clear();
      const std::size_t at = request.find("\r\nCookie: ");
      if (at == std::string::npos) continue;
      std::istringstream each(request.substr(at + 10, request.find("\r\n", at + 2) - at - 10));
      for (std::string cookie; std::getline(each >> std::ws, cookie, ';');)
        cookies.push_back(cookie);
    }
    std::sort(cookies.begin(), cookies.end());
    return cookies;
  }

  std::vector<std::string> CookiesInFile() const {
    std::vector<std::string> names;
    if (const auto cookies = ParseCookieFile(Read(file_))) {
      for (const auto& entry : *cookies)
        names.push_back(entry.first.substr(entry.first.rfind('\t') + 1));
    }
    return names;
  }

  std::string home_;
  std::string file_;
  int runs_ = 0;
};

TEST_F(CookieRunsTest, OnlyLastingCookiesReachTheNextRun) {
  std::filesystem::create_directories(home_ + "/sorrel-resolver");
  std::ofstream(file_) << Line("127.0.0.1", "old", "x", "100") << "\n"
                       << Line("127.0.0.1", "kept", "y") << "\n";
  LoopbackServer server(Answers({
      {"/one",
       "lasting=1; Max-Age=3600; path=/|session=2; path=/|"
       "dead=3; expires=Thu, 01 Jan 1970 00:00:10 GMT; path=/"},
      {"/two", "kept=; Max-Age=0"},
  }));
  // Each step is a run of its own: what it sends, then what the file keeps.
  const struct {
    const char* path;
    std::vector<std::string> sent, kept;
  } steps[] = {
      {"/zero", {"kept=y"}, {"kept"}},  // written at the end only: the expired one goes
      {"/one", {"kept=y"}, {"kept", "lasting"}},
      {"/two", {"kept=y", "lasting=1"}, {"lasting"}},
      {"/three", {"lasting=1"}, {"lasting"}},
  };
  for (const auto& step : steps) {
    RunOnce(server, {step.path});
    EXPECT_EQ(CookiesSent(server, step.path), step.sent) << step.path;
    EXPECT_EQ(CookiesInFile(), step.kept) << step.path;
  }
  struct stat info {};
  ASSERT_EQ(stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((home_ + "/sorrel-resolver").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(CookieRunsTest, AFileThatCannotBeReadIsSetAsideAndTheRunGoesOn) {
  LoopbackServer server(Answers({{"/set", "lasting=1; Max-Age=3600"}}));
  const std::string torn = Line("127.0.0.1", "a", "1") + "\n127.0.0.1\tFALSE\t/\tFA";
  for (const std::string& content : {torn, std::string("garbage\n"),
                                     std::string("\x7f"
                                                 "ELF\x02\x01\x01\0\0",
                                                 9),
                                     std::string()}) {
    std::filesystem::remove_all(home_ + "/sorrel-resolver");
    std::filesystem::create_directories(home_ + "/sorrel-resolver");
    // An empty text stands for a file that cannot be read at all.
    if (content.empty()) {
      std::filesystem::create_directory(file_);
    } else {
      std::ofstream(file_, std::ios::binary) << content;
    }
    const auto [status, errors] = Finish(Start(server, {"/set"}));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(errors.find("cookies.bad"), std::string::npos) << errors;
    if (!content.empty()) {
      EXPECT_EQ(Read(file_ + ".bad"), content);
    }
    EXPECT_TRUE(std::filesystem::exists(file_ + ".bad"));
    EXPECT_EQ(CookiesInFile(), std::vector<std::string>{"lasting"});
  }
}

TEST_F(CookieRunsTest, TwoRunsAtOnceKeepEachOthersCookies) {
  // Both runs have read the file before either answer comes.
  std::mutex mutex;
  std::condition_variable arrived;
  int waiting = 0;
  auto answers = Answers({{"/a", "a=1; Max-Age=3600"}, {"/b", "b=2; Max-Age=3600"}});
  LoopbackServer server([&](const std::string& request, LoopbackServer::Connection& c) {
    if (request.rfind("GET /look", 0) != 0) {
      std::unique_lock lock(mutex);
      ++waiting;
      arrived.notify_all();
      arrived.wait_for(lock, std::chrono::seconds(10), [&] { return waiting >= 2; });
    }
    answers(request, c);
  });
  const pid_t first = Start(server, {"/a"});
  const pid_t second = Start(server, {"/b"});
  EXPECT_EQ(Finish(first).first, 0);
  EXPECT_EQ(Finish(second).first, 0);
  EXPECT_EQ(CookiesInFile(), (std::vector<std::string>{"a", "b"}));
  RunOnce(server, {"/look"});
  EXPECT_EQ(CookiesSent(server, "/look"), (std::vector<std::string>{"a=1", "b=2"}));
}

TEST_F(CookieRunsTest, AKillInTheMiddleOfAWriteLeavesTheFormerFile) {
  LoopbackServer server(Answers({{"/a", "a=1; Max-Age=3600"}, {"/b", "b=2; Max-Age=3600"}}));
  RunOnce(server, {"/a"});
  // The write comes with the answer that set the cookie, before the next request.
  const pid_t stalled = Start(server, {"/b", "/after"}, true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(file_ + ".tmp") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(std::filesystem::exists(file_ + ".tmp"));
  kill(stalled, SIGKILL);
  int status = 0;
  waitpid(stalled, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  for (const std::string& request : server.requests())
    EXPECT_EQ(request.find("/after"), request.npos);
  EXPECT_EQ(CookiesInFile(), std::vector<std::string>{"a"});
  RunOnce(server, {"/look"});
  EXPECT_EQ(CookiesSent(server, "/look"), std::vector<std::string>{"a=1"});
}

}  // namespace
}  // namespace sorrel
