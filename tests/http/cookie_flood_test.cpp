// The command line against the demo service, each run with the test's own
// cookie file: a file page that floods it with lasting cookies neither slows
// nor breaks this run or the next, and the cookie file's warnings are
// Chinese and silenced by -q.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "test_helpers/sim_process.h"

extern char** environ;

namespace sorrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Far beyond a run on loopback; the flood once took minutes.
constexpr auto kRunBound = std::chrono::seconds(60);

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
  Clock::duration took{};
};

class CookieFloodTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.ok()) << sim_.error();
    home_ = (fs::temp_directory_path() / "sorrel-flood-XXXXXX").string();
    ASSERT_NE(mkdtemp(home_.data()), nullptr);
    file_ = home_ + "/sorrel-resolver/cookies";
    // Tells the code of the captcha the service issued last.
    std::ofstream(home_ + "/ask") << "#!/bin/bash\nexec 3<>/dev/tcp/127.0.0.1/" << sim_.port()
                                  << "\nprintf 'GET /__test/captcha HTTP/1.0\\r\\n\\r\\n' >&3\n"
                                  << "response=\"$(cat <&3)\"\n"
                                  << "printf '%s\\n' \"${response##*$'\\r\\n\\r\\n'}\"\n";
    fs::permissions(home_ + "/ask", fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(home_); }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  Ran Resolve(const std::string& path, std::vector<std::string> options = {}) {
    std::vector<std::string> args = {SORREL_RESOLVE_PATH, "--json", "--captcha-program",
                                     home_ + "/ask"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(sim_.url(path));
    std::vector<std::string> env = {"XDG_DATA_HOME=" + home_,
                                    "SORREL_SERVICE_ORIGIN=" + sim_.url("")};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry(*e);
      if (entry.rfind("XDG_DATA_HOME=", 0) != 0 && entry.rfind("SORREL_SERVICE_ORIGIN=", 0) != 0)
        env.emplace_back(entry);
    }
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (home_ + "/out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (home_ + "/err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Ran ran;
    const auto start = Clock::now();
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (Clock::now() - start > kRunBound) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ran.took = Clock::now() - start;
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ran.out = Read(home_ + "/out");
    ran.err = Read(home_ + "/err");
    return ran;
  }

  int CookiesInFile() const {
    const std::string text = Read(file_);
    int lines = 0;
    for (std::size_t at = text.find("\tsim_flood"); at != std::string::npos;
         at = text.find("\tsim_flood", at + 1)) {
      ++lines;
    }
    return lines;
  }

  test::SimProcess sim_{{"--test-mode"}};
  std::string home_;
  std::string file_;
};

TEST_F(CookieFloodTest, AFloodNeitherSlowsNorBreaksThisRunOrTheNext) {
  for (const char* path : {"/file/83264445?fault=cookie-flood:1000", "/file/83264445"}) {
    SCOPED_TRACE(path);
    const Ran ran = Resolve(path);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.out.find("\"status\":\"ok\""), std::string::npos) << ran.out;
    EXPECT_LT(ran.took, kRunBound);
    EXPECT_EQ(ran.err, "");
    // Within the limit of one domain, which the service's own cookies share.
    EXPECT_LE(CookiesInFile(), 180);
    EXPECT_GE(CookiesInFile(), 170);
  }
}

TEST_F(CookieFloodTest, TheCookieFilesWarningsAreChineseAndQuietSilencesThem) {
  fs::create_directories(home_ + "/sorrel-resolver");
  std::ofstream(file_) << "not a cookie file\n";
  const Ran told = Resolve("/file/83264445");
  EXPECT_EQ(told.status, 0) << told.err;
  EXPECT_EQ(told.err, "sorrel-resolver: Cookie 文件 " + file_ + " 不是 Cookie 文件，已改名为 " +
                          file_ + ".bad，Cookie 从头开始。\n");
  std::ofstream(file_) << "still not one\n";
  const Ran quiet = Resolve("/file/83264445", {"-q"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(Read(file_ + ".bad.2"), "still not one\n");
}

}  // namespace
}  // namespace sorrel
