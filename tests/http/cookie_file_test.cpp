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
#include <functional>
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

  // Runs the cookie process on `paths` of the server (or on whole addresses).
  pid_t Start(const LoopbackServer& server, const std::vector<std::string>& paths,
              std::vector<std::string> env = {}) {
    env.push_back("XDG_DATA_HOME=" + home_);
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string_view(*e).rfind("XDG_DATA_HOME=", 0) != 0) env.push_back(*e);
    }
    std::vector<std::string> args = {SORREL_COOKIE_PROCESS};
    for (const std::string& path : paths)
      args.push_back(path.front() == '/' ? server.authority() + path : path);
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

TEST_F(CookieRunsTest, AFileThatIsNoCookieFileIsSetAsideUnderANameOfItsOwn) {
  LoopbackServer server(Answers({{"/set", "lasting=1; Max-Age=3600"}}));
  std::filesystem::create_directories(home_ + "/sorrel-resolver");
  const struct {
    std::string content;
    const char* reason;
  } cases[] = {
      {Line("127.0.0.1", "a", "1") + "\n127.0.0.1\tFALSE\t/\tFA", "不是 Cookie 文件"},
      {"garbage\n", "不是 Cookie 文件"},
      {std::string("\x7f"
                   "ELF\x02\x01\x01\0\0",
                   9),
       "不是 Cookie 文件"},
      {std::string((16 << 20) + 1, '#'), "超过 16 MiB"},
  };
  // Each run finds a bad file again; the copies set aside before stay.
  std::vector<std::string> asides;
  for (const auto& c : cases) {
    std::ofstream(file_, std::ios::binary) << c.content;
    asides.push_back(file_ + ".bad" +
                     (asides.empty() ? "" : "." + std::to_string(asides.size() + 1)));
    const auto [status, errors] = Finish(Start(server, {"/set"}));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "sorrel-resolver: Cookie 文件 " + file_ + " " + c.reason + "，已改名为 " +
                          asides.back() + "，Cookie 从头开始。\n");
    for (std::size_t i = 0; i < asides.size(); ++i) {
      EXPECT_TRUE(Read(asides[i]) == cases[i].content) << asides[i];
    }
    EXPECT_EQ(CookiesInFile(), std::vector<std::string>{"lasting"});
  }
}

TEST_F(CookieRunsTest, AFileThatMayNotBeReadIsLeftAloneAndSaysWhy) {
  LoopbackServer server(Answers({{"/set", "lasting=1; Max-Age=3600"}}));
  const std::string folder = home_ + "/sorrel-resolver";
  const std::string good = Line("127.0.0.1", "kept", "1") + "\n";
  const std::string elsewhere = home_ + "/elsewhere";
  const bool root = geteuid() == 0;
  const struct {
    const char* name;
    std::function<void()> make;
    std::string reason;
  } cases[] = {
      {"a symbolic link",
       [&] {
         std::ofstream(elsewhere) << good;
         std::filesystem::create_symlink(elsewhere, file_);
       },
       "文件 " + file_ + " 是符号链接，本工具不经符号链接保存文件。"},
      {"a folder", [&] { std::filesystem::create_directory(file_); }, file_ + " 不是普通文件。"},
      {"another user's file",
       [&] {
         std::ofstream(file_) << good;
         // Root reads any file; others are kept out by its mode.
         EXPECT_EQ(root ? chown(file_.c_str(), 65534, 65534) : chmod(file_.c_str(), 0), 0);
       },
       root ? "文件 " + file_ + " 属于另一个用户，本工具不使用它。"
            : "Cookie 文件 " + file_ + " 无法读取（Permission denied），保持原样。"},
      {"another user's folder",
       [&] {
         std::filesystem::remove_all(folder);
         std::filesystem::create_directory(folder);
         std::ofstream(file_) << good;
         EXPECT_EQ(chown(folder.c_str(), 65534, 65534), 0);
       },
       "文件夹 " + folder + " 属于另一个用户，本工具不使用它。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!root && std::string(c.name) == "another user's folder") continue;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    c.make();
    struct stat before {};
    ASSERT_EQ(lstat(file_.c_str(), &before), 0);
    const auto [status, errors] = Finish(Start(server, {"/set"}));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "sorrel-resolver: " + c.reason + "本次运行的 Cookie 只保存在内存中。\n");
    struct stat after {};
    ASSERT_EQ(lstat(file_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
    EXPECT_FALSE(std::filesystem::exists(file_ + ".bad"));
    EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));
    if (std::filesystem::is_regular_file(elsewhere)) {
      EXPECT_EQ(Read(elsewhere), good);
    }
    chmod(file_.c_str(), 0600);
  }
}

TEST_F(CookieRunsTest, ACookieForAnotherHostNeverReachesTheFileOrALaterRequest) {
  // Names under "localhost" reach the loopback server; "localhost" is a
  // public suffix, like "com". A cookie for one left by an older run goes too.
  std::filesystem::create_directories(home_ + "/sorrel-resolver");
  std::ofstream(file_) << ".localhost\tTRUE\t/\tFALSE\t" << kFuture << "\tpoison\t1\n";
  LoopbackServer server(Answers({{"/set",
                                  "com=1; Domain=com; Max-Age=3600; path=/|"
                                  "victim=1; Domain=victim.localhost; Max-Age=3600; path=/|"
                                  "parent=1; Domain=.localhost; Max-Age=3600; path=/|"
                                  "own=1; Max-Age=3600; path=/"}}));
  const std::string port = std::to_string(server.port());
  const std::string evil = "http://evil.localhost:" + port;
  const std::string victim = "http://victim.localhost:" + port;
  RunOnce(server, {evil + "/set"});
  EXPECT_EQ(CookiesInFile(), std::vector<std::string>{"own"});
  RunOnce(server, {victim + "/look", evil + "/mine"});
  EXPECT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(CookiesSent(server, "/look"), std::vector<std::string>{});
  EXPECT_EQ(CookiesSent(server, "/mine"), std::vector<std::string>{"own=1"});
}

TEST_F(CookieRunsTest, AFloodIsWrittenOnceAndLeavesTheNextRunItsOwnCookies) {
  std::string flood;
  for (int i = 0; i < 1000; ++i) flood += "f" + std::to_string(i) + "=1; Max-Age=3600; path=/|";
  LoopbackServer server(Answers({{"/flood", flood}, {"/session", "sid=s1; path=/"}}));
  const std::string count = home_ + "/writes";
  const auto [status, errors] =
      Finish(Start(server, {"/flood"}, {"SORREL_TEST_WRITE_COUNT=" + count}));
  EXPECT_EQ(status, 0) << errors;
  // Once as the exchange ends, once as the run ends, within the limit.
  EXPECT_EQ(Read(count), "2");
  EXPECT_EQ(CookiesInFile().size(), 180u);
  RunOnce(server, {"/session", "/look"});
  const std::vector<std::string> sent = CookiesSent(server, "/look");
  EXPECT_EQ(sent.size(), 180u);
  EXPECT_NE(std::find(sent.begin(), sent.end(), "sid=s1"), sent.end());
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
  const pid_t stalled = Start(server, {"/b", "/after"}, {"SORREL_TEST_STALL_WRITE=1"});
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
