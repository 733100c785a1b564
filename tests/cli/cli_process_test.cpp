// sorrel-resolve run as a process against the demo service: the captcha
// answered by small programs that ask the service's test endpoint, the
// output read as a script reads it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "test_helpers/loopback_server.h"
#include "test_helpers/proxy_process.h"
#include "test_helpers/sim_process.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kExample = "/file/83264445";
constexpr const char* kRemoved = "/file/40400404";

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<json> Json() const {
    std::vector<json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
  }
};

enum class Stdin { kClosed, kText };

// The command under test: this build's, or another build's that the
// environment names (SORREL_RESOLVE_PROGRAM, started by
// SORREL_RESOLVE_RUNNER: the Windows program under wine), which the same
// cases then hold to the same output.
std::vector<std::string> CommandUnderTest() {
  const char* program = std::getenv("SORREL_RESOLVE_PROGRAM");
  if (program == nullptr || *program == '\0') return {SORREL_RESOLVE_PATH};
  const char* runner = std::getenv("SORREL_RESOLVE_RUNNER");
  if (runner == nullptr || *runner == '\0') return {program};
  return {runner, program};
}

// Runs the command in a session of its own, so that it has no controlling
// terminal whatever the terminal the tests run in.
Ran RunCli(const std::vector<std::string>& args, Stdin stdinMode = Stdin::kText,
           const std::string& input = {}, const std::map<std::string, std::string>& env = {}) {
  std::vector<std::string> argv = CommandUnderTest();
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {};
  // The service's cookies are kept in the test's own folder, not the user's.
  const std::string data =
      (fs::temp_directory_path() / ("sorrel_cli_data_" + std::to_string(getpid()))).string();
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    // The command takes the environment's proxy: only a test's own counts.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
      unsetenv(name);
    }
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    if (stdinMode == Stdin::kClosed) {
      close(STDIN_FILENO);
    } else {
      dup2(in[0], STDIN_FILENO);
    }
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execvp(cargv[0], cargv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!input.empty()) (void)!write(in[1], input.data(), input.size());
  close(in[1]);
  Ran ran;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&ran.out, &ran.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 1000) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (open > 0) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  for (pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  return ran;
}

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(fs::temp_directory_path() / ("sorrel_cli_" + std::to_string(getpid())));
    fs::create_directories(*dir_);
    // Tells the code of the captcha the service issued last, and notes the
    // picture it was handed: its path and its first six bytes.
    Script("ask", R"sh(exec 3<>"/dev/tcp/127.0.0.1/$SIM_PORT"
printf 'GET /__test/captcha HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
response="$(cat <&3)"
printf '%s %s\n' "$1" "$(head -c 6 "$1")" >>"$ASK_LOG"
printf '%s\n' "${response##*$'\r\n\r\n'}")sh");
    Script("wrong-first", R"sh(if [ ! -e "$ASK_LOG" ]; then : >"$ASK_LOG"; echo 0000; exit 0; fi
exec ")sh" + (*dir_ / "ask").string() +
                              R"sh(" "$1")sh");
    Script("always-wrong", R"sh(echo "$1" >>"$ASK_LOG"; echo 0000)sh");
    Script("hangs", "exec sleep 30");
    Script("silent", "exit 0");
  }
  static void TearDownTestSuite() {
    fs::remove_all(fs::temp_directory_path() / ("sorrel_cli_data_" + std::to_string(getpid())));
    fs::remove_all(*dir_);
    delete dir_;
  }
  static void Script(const std::string& name, const std::string& body) {
    const fs::path path = *dir_ / name;
    std::ofstream(path) << "#!/bin/bash\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
  }
  static std::string ScriptPath(const std::string& name) { return (*dir_ / name).string(); }

  void SetUp() override {
    log_ = *dir_ /
           (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log");
    fs::remove(log_);
  }
  std::map<std::string, std::string> Env(const test::SimProcess& sim) const {
    return {{"SIM_PORT", std::to_string(sim.port())},
            {"ASK_LOG", log_.string()},
            {"SORREL_SERVICE_ORIGIN", sim.url("")}};
  }
  std::vector<std::string> AskLog() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  Ran Resolve(const test::SimProcess& sim, std::vector<std::string> args,
              const std::string& program = "ask") {
    args.insert(args.begin(), {"--captcha-program", ScriptPath(program)});
    return RunCli(args, Stdin::kText, {}, Env(sim));
  }

  static fs::path* dir_;
  fs::path log_;
};

fs::path* CliTest::dir_ = nullptr;

TEST_F(CliTest, ResolvesWithACaptchaProgramInTheWindowsForm) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const Ran ran = Resolve(sim, {sim.url(kExample)});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.err, "");
  const std::string prefix = "普通下载地址：\n\n" + sim.url("/dl/");
  EXPECT_EQ(ran.out.substr(0, prefix.size()), prefix);
  EXPECT_NE(ran.out.find("\n\n迅雷下载地址：\n\nthunder://"), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("\n\n快车下载地址：\n\nflashget://"), std::string::npos) << ran.out;
  EXPECT_EQ(ran.out.find("&sorrel\n"), ran.out.size() - 8) << ran.out;
  // The program got a GIF file, removed once the run ended.
  const std::vector<std::string> asked = AskLog();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].find("captcha.gif GIF8"), std::string::npos) << asked[0];
  EXPECT_FALSE(fs::exists(asked[0].substr(0, asked[0].find(' '))));
}

TEST_F(CliTest, JsonLinesCarryEveryFieldAndTheDecodedLinksMatch) {
  test::SimProcess sim({"--test-mode", "--picture", "jpeg"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const Ran ran = Resolve(sim, {"--json", sim.url(kExample)});
  EXPECT_EQ(ran.status, 0) << ran.err;
  const std::vector<json> lines = ran.Json();
  ASSERT_EQ(lines.size(), 1u);
  const json& line = lines[0];
  EXPECT_EQ(line.size(), 5u) << line.dump();
  EXPECT_EQ(line["address"], sim.url(kExample));
  EXPECT_EQ(line["status"], "ok");
  const std::string normal = line["normal"];
  EXPECT_EQ(normal.rfind(sim.url("/dl/"), 0), 0u) << normal;
  EXPECT_NE(normal.find("/Sorrel%E7%BD%91%E7%9B%98"), std::string::npos) << normal;
  EXPECT_FALSE(line.contains("message"));
  const Ran decoded = RunCli({"decode", line["thunder"], line["flashget"]});
  EXPECT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.out, normal + "\n" + normal + "\n");
}

TEST_F(CliTest, AWrongCaptchaAsksAgainWithAFreshPicture) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const Ran ran = Resolve(sim, {"--json", sim.url(kExample)}, "wrong-first");
  EXPECT_EQ(ran.status, 0) << ran.err;
  const std::vector<json> lines = ran.Json();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["status"], "ok");
  EXPECT_EQ(AskLog().size(), 1u);  // the second picture went to the asking program
}

TEST_F(CliTest, TriesEndWithWrongCaptcha) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const Ran ran = Resolve(sim, {"--json", "--tries", "2", sim.url(kExample)}, "always-wrong");
  EXPECT_EQ(ran.status, 1);
  const std::vector<json> lines = ran.Json();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["status"], "wrong-captcha");
  EXPECT_EQ(lines[0]["message"], "验证码输入错误，尝试次数已用完。");
  EXPECT_FALSE(lines[0].contains("normal"));
  EXPECT_EQ(AskLog().size(), 2u);
}

struct FailureCase {
  std::string name;
  std::vector<std::string> simArgs;
  std::string path;  // on the sim, or a whole address
  std::string status;
  std::string message;
  std::vector<std::string> args = {};  // of the command, before the address
};

TEST_F(CliTest, EachFailureHasItsStatusAndSentence) {
  const std::vector<FailureCase> cases = {
      {"removed", {}, kRemoved, "removed", "文件已到期、被删除或不存在。"},
      {"no form",
       {},
       "/__test/echo?body=hello",
       "no-form",
       "页面上没有验证码表单，这可能不是文件页面。"},
      {"no address",
       {"--fault", "redirect:/__test/echo@/guest_loginV2.php"},
       kExample,
       "no-address",
       "服务的回答里没有下载地址。"},
      {"unreachable",
       {},
       "http://127.0.0.1:9/file/1",
       "unreachable",
       "无法连接到服务。",
       {"--origin", "http://127.0.0.1:9"}},
      {"timeout",
       {},
       std::string(kExample) + "?captcha_fault=delay:11000",
       "timeout",
       "服务没有在限定时间内回答。"},
      {"invalid", {}, "http:///file/1", "invalid", "地址无效。"},
      {"address too long",
       {},
       std::string(kExample) + "?x=" + std::string(16 * 1024, 'a'),
       "invalid",
       "地址太长，无法发送。"},
      {"page cut",
       {},
       std::string(kExample) + "?fault=close-mid-body",
       "unreachable",
       "连接中断，服务的回答不完整。"},
      {"login cut",
       {"--fault", "close-mid-body@/guest_loginV2.php"},
       kExample,
       "unreachable",
       "连接中断，服务的回答不完整。"},
      {"redirect loop",
       {},
       std::string(kExample) + "?fault=redirect-loop",
       "unreachable",
       "服务的页面不断重定向，无法打开。"},
      {"captcha picture cut",
       {},
       std::string(kExample) + "?captcha_fault=truncated-picture",
       "bad-captcha",
       "服务发来的验证码图片已损坏或无法显示。"},
      {"captcha picture too big",
       {},
       std::string(kExample) + "?captcha_fault=huge-picture",
       "bad-captcha",
       "服务发来的验证码图片已损坏或无法显示。"},
      {"captcha page",
       {},
       std::string(kExample) + "?captcha_fault=html-captcha",
       "bad-captcha",
       "服务发来的验证码图片已损坏或无法显示。"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> simArgs = {"--test-mode"};
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    test::SimProcess sim(simArgs);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string address = c.path[0] == '/' ? sim.url(c.path) : c.path;
    std::vector<std::string> args = c.args;
    args.push_back(address);
    args.insert(args.begin(), "--json");
    const Ran ran = Resolve(sim, args);
    EXPECT_EQ(ran.status, 1) << ran.err;
    const std::vector<json> lines = ran.Json();
    ASSERT_EQ(lines.size(), 1u) << ran.out;
    EXPECT_EQ(lines[0]["address"], address);
    EXPECT_EQ(lines[0]["status"], c.status);
    EXPECT_EQ(lines[0]["message"], c.message);
    EXPECT_EQ(lines[0].size(), 3u) << lines[0].dump();
    // Without --json, one line on standard error and nothing on standard output.
    args.erase(args.begin());
    const Ran plain = Resolve(sim, args);
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, "");
    EXPECT_EQ(plain.err, "sorrel-resolve: " + address + ": " + c.message + "\n");
  }
}

// The demo service sends at most 64 MiB, which is within the cap.
TEST_F(CliTest, APageBeyondTheCapIsTooLarge) {
  test::LoopbackServer server([](const std::string&, test::LoopbackServer::Connection& c) {
    if (!c.Write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n")) return;
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 66 && c.Write(block); ++i) {
    }
  });
  const std::string address = "http://" + server.authority() + "/file/1";
  const Ran ran = RunCli({"--json", "--origin", "http://" + server.authority(), "--captcha-program",
                          ScriptPath("silent"), address});
  EXPECT_EQ(ran.status, 1);
  const std::vector<json> lines = ran.Json();
  ASSERT_EQ(lines.size(), 1u) << ran.out;
  EXPECT_EQ(lines[0]["status"], "too-large");
  EXPECT_EQ(lines[0]["message"], "服务的回答太大。");
}

TEST_F(CliTest, ABatchResolvesEachAddressOnceInInputOrder) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const fs::path list = *dir_ / "地址 列表.txt";
  std::ofstream(list) << "# 要解析的地址\n\n"
                      << sim.url(kRemoved) << "\r\n  " << sim.url(kExample) << "  \n"
                      << sim.url(kRemoved) << "\n";
  const Ran ran = RunCli({"--json", "--captcha-program", ScriptPath("ask"), sim.url(kExample), "-i",
                          list.string(), "-i", "-"},
                         Stdin::kText, sim.url("/file/12345678") + "\n", Env(sim));
  EXPECT_EQ(ran.status, 1);
  const std::vector<json> lines = ran.Json();
  ASSERT_EQ(lines.size(), 3u) << ran.out;
  EXPECT_EQ(lines[0]["address"], sim.url(kExample));
  EXPECT_EQ(lines[0]["status"], "ok");
  EXPECT_EQ(lines[1]["address"], sim.url(kRemoved));
  EXPECT_EQ(lines[1]["status"], "removed");
  EXPECT_EQ(lines[2]["address"], sim.url("/file/12345678"));
  EXPECT_EQ(lines[2]["status"], "ok");
  EXPECT_EQ(AskLog().size(), 2u);
  // Standard error is no terminal: no progress line.
  EXPECT_EQ(ran.err, "");
}

TEST_F(CliTest, WithoutTerminalOrOptionTheAddressIsInvalidAtOnce) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const auto start = std::chrono::steady_clock::now();
  for (Stdin mode : {Stdin::kClosed, Stdin::kText}) {
    const Ran ran = RunCli({"--json", sim.url(kExample)}, mode, {}, Env(sim));
    EXPECT_EQ(ran.status, 1);
    const std::vector<json> lines = ran.Json();
    ASSERT_EQ(lines.size(), 1u) << ran.out;
    EXPECT_EQ(lines[0]["status"], "invalid");
    EXPECT_EQ(lines[0]["message"],
              "没有终端可以显示验证码：请用 --captcha-program 或 --captcha-file 选项。");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(CliTest, ACaptchaFileIsAnsweredOnStandardInput) {
  test::SimProcess sim({"--test-mode", "--fixed-code", "k7p2", "--picture", "bmp"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const fs::path picture = *dir_ / "验证码 图片.gif";
  const Ran ran = RunCli({"--json", "--captcha-file", picture.string(), sim.url(kExample)},
                         Stdin::kText, "k7p2\n", Env(sim));
  EXPECT_EQ(ran.status, 0) << ran.err;
  ASSERT_EQ(ran.Json().size(), 1u);
  EXPECT_EQ(ran.Json()[0]["status"], "ok");
  std::ifstream in(picture, std::ios::binary);
  std::string magic(4, '\0');
  in.read(magic.data(), 4);
  EXPECT_EQ(magic, "GIF8");
  // A closed standard input gives no code.
  const Ran closed = RunCli({"--json", "--captcha-file", picture.string(), sim.url(kExample)},
                            Stdin::kClosed, {}, Env(sim));
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.Json().at(0)["status"], "invalid");
}

TEST_F(CliTest, ACaptchaProgramThatHangsOrSaysNothingGivesNoCode) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const struct {
    std::string program;
    std::string message;
  } cases[] = {
      {ScriptPath("hangs"), "验证码程序 " + ScriptPath("hangs") + " 在 1 秒内没有给出验证码。"},
      {ScriptPath("silent"), "验证码程序 " + ScriptPath("silent") + " 没有输出验证码。"},
      {"no-such-program-here",
       "无法运行验证码程序 no-such-program-here：No such file or directory。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    auto env = Env(sim);
    env["SORREL_CAPTCHA_PROGRAM_SECONDS"] = "1";
    const auto start = std::chrono::steady_clock::now();
    const Ran ran = RunCli({"--json", "--captcha-program", c.program, sim.url(kExample)},
                           Stdin::kText, {}, env);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(ran.status, 1);
    const std::vector<json> lines = ran.Json();
    ASSERT_EQ(lines.size(), 1u) << ran.out;
    EXPECT_EQ(lines[0]["status"], "invalid");
    EXPECT_EQ(lines[0]["message"], c.message);
  }
}

// The program is run as execvp runs it: found on PATH, and a script
// without "#!" through the shell.
TEST_F(CliTest, TheCaptchaProgramIsSearchedOnThePathAndMayLackAHashBang) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const fs::path path = *dir_ / "no-hash-bang";
  std::ofstream(path) << "exec '" << ScriptPath("ask") << "' \"$1\"\n";
  fs::permissions(path, fs::perms::owner_all);
  auto env = Env(sim);
  env["PATH"] = dir_->string() + ":" + std::getenv("PATH");
  const Ran ran = RunCli({"--json", "--captcha-program", "no-hash-bang", sim.url(kExample)},
                         Stdin::kText, {}, env);
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(AskLog().size(), 1u);
}

TEST_F(CliTest, NonAsciiFileNamesComeBackThroughEveryForm) {
  const fs::path files = *dir_ / "files";
  fs::create_directories(files);
  const std::string utf8Name = (files / "样本 数据.txt").string();
  const std::string gbkName = (files / "\xD1\xF9\xB1\xBE.txt").string();  // 样本 in GBK
  std::ofstream(utf8Name) << "utf-8";
  std::ofstream(gbkName) << "gbk";
  test::SimProcess sim(
      {"--test-mode", "--file", "90000001=" + utf8Name, "--file", "90000002=" + gbkName});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const Ran ran = Resolve(sim, {"--json", sim.url("/file/90000001"), sim.url("/file/90000002")});
  EXPECT_EQ(ran.status, 0) << ran.err;
  const std::vector<json> lines = ran.Json();
  ASSERT_EQ(lines.size(), 2u);
  const std::string tails[] = {"/%E6%A0%B7%E6%9C%AC%20%E6%95%B0%E6%8D%AE.txt", "/%D1%F9%B1%BE.txt"};
  for (int i = 0; i < 2; ++i) {
    const std::string normal = lines[i]["normal"];
    EXPECT_EQ(normal.substr(normal.size() - tails[i].size()), tails[i]);
    const Ran decoded = RunCli({"decode", lines[i]["thunder"], lines[i]["flashget"]});
    EXPECT_EQ(decoded.out, normal + "\n" + normal + "\n");
    const std::string encoded = RunCli({"encode", normal}).out;
    EXPECT_EQ(encoded.substr(0, encoded.rfind("qqdl://")),
              std::string(lines[i]["thunder"]) + "\n" + std::string(lines[i]["flashget"]) + "\n");
  }
}

TEST(CliCommandLineTest, ExitStatusesAndStreams) {
  const Ran help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"--captcha-program", "--json", "wrong-captcha", "退出状态", "decode",
                           "（N 为 1 到 100 的整数，默认 3）"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(RunCli({"--version"}).out, "sorrel-resolve 1.0.0\n");
  const std::vector<std::vector<std::string>> bad = {{},
                                                     {"--tries", "0", "x"},
                                                     {"--bogus", "x"},
                                                     {"--json"},
                                                     {"decode"},
                                                     {"--captcha-program"},
                                                     {"--origin", "ftp://x", "x"},
                                                     {"decode", "--json", "x"},
                                                     {"-i", "/nonexistent/地址.txt"},
                                                     {"--wait", "x"},
                                                     {"--dir", "/tmp", "x"},
                                                     {"--aria2=ftp://x", "x"},
                                                     {"--aria2", "--aria2-secret-file", "f", "x"}};
  for (const auto& args : bad) {
    const Ran ran = RunCli(args);
    EXPECT_EQ(ran.status, 2) << testing::PrintToString(args);
    EXPECT_EQ(ran.out, "");
    EXPECT_NE(ran.err.find("用法：sorrel-resolve"), std::string::npos) << ran.err;
  }
  const Ran decode =
      RunCli({"decode", "thunder://QUFodHRwOi8vZXhhbXBsZS5jb20vYS50eHRaWg==", "http://x",
              "QQDL://aHR0cDovL2gv0fmxvi50eHQ"});
  EXPECT_EQ(decode.status, 1);
  EXPECT_EQ(decode.out, "http://example.com/a.txt\nhttp://h/样本.txt\n");
  EXPECT_EQ(decode.err,
            "sorrel-resolve: http://x: 这不是 thunder://、flashget:// 或 qqdl:// 开头的链接。\n");
  const Ran encode = RunCli({"encode", "http://example.com/a.txt"});
  EXPECT_EQ(encode.status, 0);
  EXPECT_EQ(encode.out,
            "thunder://QUFodHRwOi8vZXhhbXBsZS5jb20vYS50eHRaWg==\n"
            "flashget://W0ZMQVNIR0VUXWh0dHA6Ly9leGFtcGxlLmNvbS9hLnR4dFtGTEFTSEdFVF0=&sorrel\n"
            "qqdl://aHR0cDovL2V4YW1wbGUuY29tL2EudHh0\n");
}

// A file of the test's own in the demo service, and a folder for the
// downloads and the engine's data.
struct Downloadable {
  explicit Downloadable(const fs::path& root) : dir(root / "handoff") {
    fs::remove_all(dir);
    fs::create_directories(dir / "in");
    content.resize(50000);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
    std::ofstream(dir / "in" / "样本 数据.bin", std::ios::binary) << content;
  }
  std::string Arg() const { return "99=" + (dir / "in" / "样本 数据.bin").string(); }
  std::string content;
  fs::path dir;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(CliTest, CheckTellsNameSizeAndStatus) {
  Downloadable file(*dir_);
  test::SimProcess sim({"--test-mode", "--file", file.Arg()});
  test::SimProcess stale({"--test-mode", "--file", file.Arg(), "--token-seconds", "0"});
  ASSERT_TRUE(sim.ok() && stale.ok());
  const Ran ran = Resolve(sim, {"--json", "--check", sim.url("/file/99")});
  EXPECT_EQ(ran.status, 0) << ran.err;
  ASSERT_EQ(ran.Json().size(), 1u);
  const json line = ran.Json()[0];
  EXPECT_EQ(line["name"], "样本 数据.bin");
  EXPECT_EQ(line["size"], 50000);
  EXPECT_EQ(line["link_status"], "ok");

  auto env = Env(stale);
  const Ran expired =
      RunCli({"--captcha-program", ScriptPath("ask"), "--check", stale.url("/file/99")},
             Stdin::kText, {}, env);
  EXPECT_EQ(expired.status, 1);
  EXPECT_NE(expired.out.find("链接检查：下载地址已过期，请重新获取。（expired）"),
            std::string::npos)
      << expired.out;
  EXPECT_NE(expired.err.find(": 下载地址已过期，请重新获取。\n"), std::string::npos) << expired.err;
}

TEST_F(CliTest, APrivateEngineDownloadsTheFileAndEndsWithTheCommand) {
  Downloadable file(*dir_);
  test::SimProcess sim({"--test-mode", "--file", file.Arg()});
  ASSERT_TRUE(sim.ok()) << sim.error();
  auto env = Env(sim);
  env["XDG_DATA_HOME"] = (file.dir / "data").string();
  const Ran ran = RunCli({"--captcha-program", ScriptPath("ask"), "--json", "--aria2", "--dir",
                          (file.dir / "out").string(), sim.url("/file/99")},
                         Stdin::kText, {}, env);
  EXPECT_EQ(ran.status, 0) << ran.err;
  ASSERT_EQ(ran.Json().size(), 1u) << ran.out;
  const json line = ran.Json()[0];
  EXPECT_EQ(std::string(line["gid"]).size(), 16u);
  EXPECT_EQ(line["download"], "complete");
  EXPECT_EQ(ReadAll(file.dir / "out" / "样本 数据.bin"), file.content);
  // The engine keeps nothing to resume, and its secret's file is gone; the
  // history stands beside them.
  for (const auto& entry : fs::directory_iterator(file.dir / "data" / "sorrel-resolver")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "held" || name[0] == 'c' || name.rfind("history", 0) == 0) << entry.path();
    EXPECT_NE(entry.path().filename(), "aria2.session");
  }
  // Nothing of the engine is left running: no aria2c holds our folder.
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(cmdline), {});
    EXPECT_EQ(text.find((file.dir / "out").string()), std::string::npos) << entry.path();
  }
}

TEST_F(CliTest, ARemoteEngineTakesItsSecretFromAFile) {
  Downloadable file(*dir_);
  test::SimProcess sim({"--test-mode", "--file", file.Arg()});
  ASSERT_TRUE(sim.ok()) << sim.error();
  // An engine of the test's own, as a home server would run it.
  const int port = [] {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return static_cast<int>(ntohs(address.sin_port));
  }();
  const std::string secret = "t0ps3cret";
  const pid_t engine = fork();
  if (engine == 0) {
    const std::string args[] = {"--enable-rpc", "--rpc-listen-port=" + std::to_string(port),
                                "--rpc-secret=" + secret, "--dir=" + (file.dir / "remote").string(),
                                "--stop-with-process=" + std::to_string(getppid())};
    execlp("aria2c", "aria2c", "-q", args[0].c_str(), args[1].c_str(), args[2].c_str(),
           args[3].c_str(), args[4].c_str(), nullptr);
    _exit(127);
  }
  const std::string rpc = "--aria2=http://127.0.0.1:" + std::to_string(port) + "/jsonrpc";
  std::ofstream(file.dir / "secret") << secret << "\n";
  std::ofstream(file.dir / "wrong") << "nope\n";
  // Ready once its port takes a connection.
  for (int i = 0; i < 100; ++i) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool up = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    if (up) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const Ran ran = Resolve(sim, {"--json", rpc, "--aria2-secret-file",
                                (file.dir / "secret").string(), "--wait", sim.url("/file/99")});
  const Ran wrong = Resolve(
      sim, {rpc, "--aria2-secret-file", (file.dir / "wrong").string(), sim.url("/file/99")});
  kill(engine, SIGTERM);
  waitpid(engine, nullptr, 0);
  EXPECT_EQ(ran.status, 0) << ran.err;
  ASSERT_EQ(ran.Json().size(), 1u) << ran.out;
  EXPECT_EQ(ran.Json()[0]["download"], "complete");
  EXPECT_EQ(ReadAll(file.dir / "remote" / "样本 数据.bin"), file.content);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(
      wrong.err.find(": aria2 拒绝了请求：密钥不对（Unauthorized）。请检查 aria2 的 RPC 密钥。\n"),
      std::string::npos)
      << wrong.err;
}

// What the command shows, what it sends and what it leaves behind: server
// texts reach the terminal escaped, what is no page of the service is
// refused before any request, and a signal ends the captcha program and
// removes its picture.

// The offset of the first control character, C1 character or direction
// override in `text` (a line end aside); npos when there is none.
size_t UnsafeAt(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const auto next = [&](size_t k) {
      return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    if ((b < 0x20 && b != '\n') || b == 0x7F || (b == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) ||
        (b == 0xE2 && next(1) == 0x80 && next(2) >= 0xAA && next(2) <= 0xAE) ||
        (b == 0xE2 && next(1) == 0x81 && next(2) >= 0xA6 && next(2) <= 0xA9)) {
      return i;
    }
  }
  return std::string::npos;
}

void ExpectShownSafely(const Ran& ran) {
  EXPECT_EQ(UnsafeAt(ran.out), std::string::npos) << ran.out;
  EXPECT_EQ(UnsafeAt(ran.err), std::string::npos) << ran.err;
  EXPECT_EQ(ran.out.find("\nFORGED"), std::string::npos) << ran.out;
  EXPECT_EQ(ran.err.find("\nFORGED"), std::string::npos) << ran.err;
}

TEST_F(CliTest, AddressesWithControlCharactersAreRefused) {
  for (const std::string link : {"normal", "thunder", "flashget"}) {
    SCOPED_TRACE(link);
    test::SimProcess sim(
        {"--test-mode", "--fault", "control-links:" + link + "@/guest_loginV2.php"});
    ASSERT_TRUE(sim.ok()) << sim.error();
    const Ran plain = Resolve(sim, {sim.url(kExample)});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, "");
    EXPECT_EQ(plain.err,
              "sorrel-resolve: " + sim.url(kExample) + ": 服务的回答里的下载地址含有控制字符。\n");
    const Ran json = Resolve(sim, {"--json", sim.url(kExample)});
    ASSERT_EQ(json.Json().size(), 1u) << json.out;
    EXPECT_EQ(json.Json()[0]["status"], "no-address");
    EXPECT_EQ(json.Json()[0]["message"], "服务的回答里的下载地址含有控制字符。");
  }
}

TEST_F(CliTest, FileNamesAndEngineMessagesAreShownEscaped) {
  const fs::path files = *dir_ / "hostile";
  fs::create_directories(files);
  const fs::path file = files / "\x1b]0;sorrel\x07\x1b[2J\nFORGED\x7f\xc2\x9b\xe2\x80\xae.bin";
  std::ofstream(file) << "data";
  test::SimProcess sim({"--test-mode", "--file", "98=" + file.string()});
  ASSERT_TRUE(sim.ok()) << sim.error();
  // An engine that answers with control sequences of its own.
  test::LoopbackServer engine([](const std::string& request, test::LoopbackServer::Connection& c) {
    const json result =
        request.find("aria2.addUri") != std::string::npos
            ? json("\x1b[2J0123")
            : json{{"gid", "0123"},
                   {"status", "error"},
                   {"errorMessage", "\x1b]0;sorrel\x07\nFORGED\x7f\xc2\x9b\xe2\x80\xae"}};
    c.Write(test::HttpResponse(json{{"jsonrpc", "2.0"}, {"id", "1"}, {"result", result}}.dump(),
                               "Content-Type: application/json\r\n"));
  });
  const Ran ran = Resolve(sim, {"--check", "--aria2=http://" + engine.authority() + "/jsonrpc",
                                "--wait", sim.url("/file/98")});
  EXPECT_EQ(ran.status, 1);
  ExpectShownSafely(ran);
  EXPECT_NE(ran.out.find("FORGED"), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("GID：\\x1b[2J0123\n"), std::string::npos) << ran.out;
  EXPECT_NE(ran.err.find("\\x1b]0;sorrel\\x07\\x0aFORGED\\x7f\\u009b\\u202e\n"), std::string::npos)
      << ran.err;
}

TEST_F(CliTest, WhatIsNoPageOfTheServiceIsRefusedBeforeAnyRequest) {
  const fs::path requests = *dir_ / "requests.log";
  test::SimProcess sim({"--test-mode", "--request-log", requests.string()});
  ASSERT_TRUE(sim.ok()) << sim.error();
  test::LoopbackServer other(test::LoopbackServer::Answer(test::HttpResponse("输入上方")));
  const std::string elsewhere = "http://" + other.authority() + kExample;
  const fs::path list = *dir_ / "not addresses.txt";
  std::ofstream(list) << "sorrel.example\nftp://127.0.0.1/file/1\n"
                      << elsewhere << "\nthunder://QUFodHRwOi8vZXhhbXBsZS5jb20vYS50eHRaWg==\n";
  const Ran ran = Resolve(sim, {"--json", "", "-i", list.string()});
  EXPECT_EQ(ran.status, 1);
  const std::vector<json> lines = ran.Json();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"", "地址是空的。"},
      {"sorrel.example", "这不是以 http:// 或 https:// 开头的网址。"},
      {"ftp://127.0.0.1/file/1", "这不是以 http:// 或 https:// 开头的网址。"},
      {elsewhere, "地址不在服务 " + sim.url("") +
                      " 上：验证码和登录都在该服务上进行（另一个服务请用 --origin 指定）。"},
      {"thunder://QUFodHRwOi8vZXhhbXBsZS5jb20vYS50eHRaWg==",
       "这是下载工具的链接，不是文件页地址：其中的地址请用 sorrel-resolve decode 取出。"},
  };
  ASSERT_EQ(lines.size(), expected.size()) << ran.out;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i]["address"], expected[i].first);
    EXPECT_EQ(lines[i]["status"], "invalid");
    EXPECT_EQ(lines[i]["message"], expected[i].second);
  }
  EXPECT_TRUE(other.requests().empty());
  EXPECT_EQ(ReadAll(requests), "");
  const Ran empty = RunCli({""});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "sorrel-resolve: 地址是空的。\n");
}

// Ended, or ended and waiting to be reaped by whoever took it over.
bool Gone(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text(std::istreambuf_iterator<char>(stat), {});
    const size_t close = text.rfind(')');
    if (!stat || close == std::string::npos || text.substr(close + 2, 1) == "Z") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(CliTest, ASignalEndsTheCaptchaProgramAndRemovesItsPicture) {
  // Notes its own process, its child's and the picture, then waits.
  Script("holds", R"sh(sleep 30 &
printf '%s %s %s\n' "$$" "$!" "$1" >"$ASK_LOG.part"
mv "$ASK_LOG.part" "$ASK_LOG"
wait)sh");
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const fs::path runtime = *dir_ / "runtime";
  fs::create_directories(runtime);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    std::signal(signal, SIG_DFL);  // a test run in the background may ignore it
    fs::remove(log_);
    std::vector<std::string> argv = {"env"};
    for (const auto& [name, value] : Env(sim)) argv.push_back(name + "=" + value);
    argv.insert(argv.end(), {"XDG_RUNTIME_DIR=" + runtime.string(),
                             "XDG_DATA_HOME=" + (*dir_ / "data").string(), SORREL_RESOLVE_PATH,
                             "--captcha-program", ScriptPath("holds"), sim.url(kExample)});
    int error = 0;
    const std::unique_ptr<ChildProcess> command =
        ChildProcess::Start({argv, ChildStream::kNull, ChildStream::kNull}, error);
    ASSERT_TRUE(command) << error;
    for (int i = 0; i < 2000 && !fs::exists(log_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_t program = 0, child = 0;
    std::string picture;
    std::ifstream(log_) >> program >> child >> picture;
    ASSERT_GT(child, 0);
    EXPECT_EQ(picture.rfind(runtime.string() + "/sorrel-resolve.", 0), 0u) << picture;
    EXPECT_TRUE(fs::exists(picture));
    kill(command->Id(), signal);
    const std::optional<ChildExit> exit = command->Wait(ChildProcess::Clock::now() + 10s);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Status(), 128 + signal);
    EXPECT_FALSE(fs::exists(fs::path(picture).parent_path()));
    EXPECT_TRUE(Gone(program));
    EXPECT_TRUE(Gone(child));
  }
}

// The hand-off to aria2 as the command line meets its faults: what a run may
// not send, write or leave behind.

// A GET of the demo service's control endpoints.
void SimGet(const test::SimProcess& sim, const std::string& path) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(sim.port());
  ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_EQ(write(s, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  char buffer[512];
  std::string answer;
  for (ssize_t n; (n = read(s, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  close(s);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
}

// Runs the command with standard error on a terminal of its own (a
// pseudo-terminal) and standard output into a file; `during` acts on it
// while it runs.
Ran RunCliOnTerminal(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env,
                     const std::function<void(pid_t)>& during) {
  std::vector<std::string> argv = {SORREL_RESOLVE_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
  FILE* out = std::tmpfile();
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    dup2(fileno(out), STDOUT_FILENO);
    dup2(slave, STDERR_FILENO);
    close(master);
    execv(cargv[0], cargv.data());
    _exit(127);
  }
  close(slave);
  during(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  Ran ran;
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) ran.err.append(buffer, n);
  close(master);
  std::rewind(out);
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) ran.out.append(buffer, n);
  std::fclose(out);
  return ran;
}

std::string Base64(const std::string& bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 2]);
    for (size_t k = 0; k < 4; ++k) {
      out += i + k <= bytes.size() ? digits[(value >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return out;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", c);
    out += escaped;
  }
  return out;
}

class CliEngineTest : public CliTest {
 protected:
  static void SetUpTestSuite() {
    CliTest::SetUpTestSuite();
    Script("fixed", "echo k7p2");
  }
  // A small file in the demo service as /file/99, its sim, and a download
  // folder of the test's own.
  void Serve(std::vector<std::string> simArgs = {}, size_t size = 4000) {
    folder_ = *dir_ / "engine";
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "out");
    content_.resize(size);
    for (size_t i = 0; i < content_.size(); ++i) content_[i] = static_cast<char>(i * 11 + i / 7);
    std::ofstream(folder_ / "样本 数据.bin", std::ios::binary) << content_;
    simArgs.insert(simArgs.begin(), {"--test-mode", "--fixed-code", "k7p2", "--file",
                                     "99=" + (folder_ / "样本 数据.bin").string()});
    sim_.emplace(simArgs);
    ASSERT_TRUE(sim_->ok()) << sim_->error();
  }
  std::vector<std::string> Wait(std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {
        "--captcha-program",       ScriptPath("fixed"), "--aria2", "--wait", "--dir",
        (folder_ / "out").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(sim_->url("/file/99"));
    return args;
  }
  fs::path Out(const std::string& name) const { return folder_ / "out" / name; }

  fs::path folder_;
  std::string content_;
  std::optional<test::SimProcess> sim_;
};

TEST_F(CliEngineTest, OnlyHttpAddressesReachTheEngine) {
  test::LoopbackServer engine(test::LoopbackServer::Answer(
      test::HttpResponse(R"({"id":"sorrel-1","jsonrpc":"2.0","result":"0123456789abcdef"})")));
  for (const char* normal : {"magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567",
                             "ftp://127.0.0.1/a.bin", "file:///etc/passwd"}) {
    SCOPED_TRACE(normal);
    // The login answer, a page of the service's links with this address.
    const std::string links = "<a class=\"local\" href=\"" + Base64(normal) +
                              "\" id=\"local_free\" onclick=\"logClickST();\">普通不限速下载</a>";
    Serve({"--fault",
           "redirect:/__test/echo?header=Content-Type:text/html%3B%20charset%3Dutf-8"
           "&body=" +
               Escaped(links) + "@/guest_loginV2.php"});
    const Ran ran =
        RunCli({"--json", "--captcha-program", ScriptPath("fixed"),
                "--aria2=http://" + engine.authority() + "/jsonrpc", sim_->url(kExample)},
               Stdin::kText, {}, Env(*sim_));
    EXPECT_EQ(ran.status, 1);
    ASSERT_EQ(ran.Json().size(), 1u) << ran.out << ran.err;
    const json line = ran.Json()[0];
    EXPECT_EQ(line["status"], "invalid");
    EXPECT_EQ(line.value("message", ""), "下载地址不是 http:// 或 https:// 地址，没有交给 aria2。");
    EXPECT_EQ(line.size(), 3u) << line.dump();
  }
  EXPECT_TRUE(engine.requests().empty());
}

// "GET /path" of each request a proxy's log line names, the query left out.
std::vector<std::string> Carried(const std::vector<std::string>& log, const std::string& origin) {
  std::vector<std::string> requests;
  for (std::string line : log) {
    if (line.rfind("SOCKS ", 0) == 0) line = line.substr(line.find(' ', 6) + 1);
    if (const size_t at = line.find(origin); at != std::string::npos) line.erase(at, origin.size());
    requests.push_back(line.substr(0, line.find('?')));
  }
  return requests;
}

// Every request of a resolution takes the road the user chose: the proxy
// given, the environment's by default, or none.
TEST_F(CliTest, EveryRequestOfAResolutionGoesThroughTheChosenProxy) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  test::ProxyProcess http;
  test::ProxyProcess socks({"--socks"});
  ASSERT_TRUE(http.ok() && socks.ok());
  const std::vector<std::string> resolution = {"GET /file/83264445", "GET /randcodeV2.php",
                                               "GET /file/83264445", "POST /guest_loginV2.php"};
  const std::string viaHttp = "http://" + http.authority();
  struct Row {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const test::ProxyProcess* proxy;  // null: straight to the service
  };
  const Row rows[] = {
      {{"--proxy", viaHttp}, {}, &http},
      {{"--proxy", "socks5h://localhost:" + std::to_string(socks.port())}, {}, &socks},
      {{}, {{"http_proxy", viaHttp}}, &http},
      {{}, {{"HTTP_PROXY", viaHttp}, {"https_proxy", "http://127.0.0.1:1"}}, &http},
      {{}, {{"ALL_PROXY", "socks5h://" + socks.authority()}}, &socks},
      {{"--no-proxy"}, {{"http_proxy", viaHttp}}, nullptr},
      {{}, {{"http_proxy", viaHttp}, {"no_proxy", "example.org,127.0.0.1"}}, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.empty() ? row.env.begin()->first : row.args.back());
    const auto httpBefore = http.Log().size();
    const auto socksBefore = socks.Log().size();
    std::vector<std::string> args = {"--json", "--captcha-program", ScriptPath("ask")};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back(sim.url(kExample));
    std::map<std::string, std::string> env = Env(sim);
    env.insert(row.env.begin(), row.env.end());
    const Ran ran = RunCli(args, Stdin::kText, {}, env);
    EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
    ASSERT_EQ(ran.Json().size(), 1u) << ran.out << ran.err;
    EXPECT_EQ(ran.Json()[0]["status"], "ok");
    std::vector<std::string> httpLog = http.Log();
    std::vector<std::string> socksLog = socks.Log();
    httpLog.erase(httpLog.begin(), httpLog.begin() + static_cast<long>(httpBefore));
    socksLog.erase(socksLog.begin(), socksLog.begin() + static_cast<long>(socksBefore));
    const auto& taken = row.proxy == &socks ? socksLog : httpLog;
    const auto& other = row.proxy == &socks ? httpLog : socksLog;
    EXPECT_EQ(Carried(taken, sim.url("")), row.proxy ? resolution : std::vector<std::string>{});
    EXPECT_TRUE(other.empty());
  }
}

// A proxy that gives no answer says so in its own words; the service is not
// blamed.
TEST_F(CliTest, AProxysFailureIsToldAsTheProxys) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  test::ProxyProcess guarded({"--user", "ann", "--password", "s3cr:t"});
  test::ProxyProcess refusing({"--socks", "--refuse"});
  ASSERT_TRUE(guarded.ok() && refusing.ok());
  const fs::path password = *dir_ / "proxy-password";
  std::ofstream(password) << "s3cr:t\nsecond line\n";
  const fs::path wrong = *dir_ / "proxy-wrong";
  std::ofstream(wrong) << "nope\n";
  const std::string user = "http://ann@" + guarded.authority();
  struct Row {
    std::vector<std::string> args;
    const char* status;
    std::string message;
  };
  const Row rows[] = {
      {{"--proxy", "http://" + guarded.authority()},
       "unreachable",
       "代理服务器要求用户名和密码（407）。"},
      {{"--proxy", user, "--proxy-password-file", wrong.string()},
       "unreachable",
       "代理服务器不接受所给的用户名和密码（407）。"},
      {{"--proxy", user, "--proxy-password-file", password.string()}, "ok", ""},
      {{"--proxy", "http://ann:s3cr%3At@" + guarded.authority()}, "ok", ""},
      {{"--proxy", "http://127.0.0.1:1"}, "unreachable", "无法连接代理服务器 127.0.0.1:1。"},
      {{"--proxy", "socks5h://" + refusing.authority()}, "unreachable", "代理服务器拒绝了连接。"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    std::vector<std::string> args = {"--json", "--captcha-program", ScriptPath("ask")};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back(sim.url(kExample));
    const Ran ran = RunCli(args, Stdin::kText, {}, Env(sim));
    ASSERT_EQ(ran.Json().size(), 1u) << ran.out << ran.err;
    EXPECT_EQ(ran.Json()[0]["status"], row.status);
    EXPECT_EQ(ran.Json()[0].value("message", ""), row.message);
  }
  // Each request without the right password was refused, and the two
  // resolutions with it got through.
  const std::vector<std::string> log = guarded.Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.rfind("407 ", 0) == 0; }),
            2);
  EXPECT_EQ(log.size(), 2u + 2 * 4);
  // Without the file, nothing is sent.
  const Ran missing = Resolve(sim, {"--proxy", user, "--proxy-password-file",
                                    (*dir_ / "absent").string(), sim.url(kExample)});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "sorrel-resolve: 无法读取代理密码文件 " + (*dir_ / "absent").string() +
                             "：No such file or directory。\n");
}

// The engine fetches through the proxy the resolution went through; a
// private engine never takes the environment's unless it was chosen.
TEST_F(CliEngineTest, TheEngineIsToldTheProxy) {
  Serve();
  test::LoopbackServer engine(test::LoopbackServer::Answer(
      test::HttpResponse(R"({"id":"sorrel-1","jsonrpc":"2.0","result":"0123456789abcdef"})")));
  test::ProxyProcess proxy;
  ASSERT_TRUE(proxy.ok());
  const std::string rpc = "--aria2=http://" + engine.authority() + "/jsonrpc";
  struct Row {
    std::vector<std::string> args;
    std::string options;  // the proxy options of the addUri call, "" for none
  };
  const Row rows[] = {
      {{"--proxy", "http://ann:p%20w@" + proxy.authority()},
       R"("all-proxy":"http://)" + proxy.authority() +
           R"(","all-proxy-passwd":"p w","all-proxy-user":"ann")"},
      {{"--proxy", "http://" + proxy.authority()},
       R"("all-proxy":"http://)" + proxy.authority() + R"(")"},
      {{"--no-proxy"}, ""},
      {{}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.options);
    const size_t before = engine.requests().size();
    std::vector<std::string> args = {"--json", "--captcha-program", ScriptPath("fixed"), rpc};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back(sim_->url("/file/99"));
    const Ran ran = RunCli(args, Stdin::kText, {}, Env(*sim_));
    ASSERT_EQ(ran.Json().size(), 1u) << ran.out << ran.err;
    EXPECT_EQ(ran.Json()[0].value("gid", ""), "0123456789abcdef") << ran.out;
    ASSERT_EQ(engine.requests().size(), before + 1);
    const std::string call = engine.requests().back();
    const json params = json::parse(call.substr(call.find("\r\n\r\n") + 4))["params"];
    ASSERT_EQ(params.size(), 2u) << call;
    json proxyOptions = json::object();
    for (const auto& [name, value] : params[1].items()) {
      if (name.rfind("all-proxy", 0) == 0) proxyOptions[name] = value;
    }
    EXPECT_EQ(proxyOptions.dump(), row.options.empty() ? "{}" : "{" + row.options + "}");
  }
  // The engine's calls themselves stay on this machine, never through the proxy.
  for (const std::string& line : proxy.Log()) {
    EXPECT_EQ(line.find("/jsonrpc"), std::string::npos) << line;
  }
  // aria2 has no SOCKS: refused before any captcha is spent.
  const Ran socks = RunCli({"--captcha-program", ScriptPath("ask"), rpc, "--proxy",
                            "socks5h://127.0.0.1:1080", sim_->url("/file/99")},
                           Stdin::kText, {}, Env(*sim_));
  EXPECT_EQ(socks.status, 1);
  EXPECT_EQ(socks.err,
            "sorrel-resolve: aria2 不能经 SOCKS 代理下载：请改用 HTTP 代理，或不带 --aria2。\n");
  EXPECT_TRUE(AskLog().empty());
}

// The private engine downloads through the proxy given, or the
// environment's by default; with --no-proxy it goes straight to the file
// whatever the environment says.
TEST_F(CliEngineTest, ThePrivateEngineDownloadsOnTheRoadChosen) {
  Serve();
  test::ProxyProcess proxy;
  ASSERT_TRUE(proxy.ok());
  const std::string via = "http://" + proxy.authority();
  struct Row {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    size_t downloads;  // requests for the file the proxy carried
  };
  const Row rows[] = {
      {{"--proxy", via}, {}, 1},
      {{}, {{"http_proxy", via}}, 1},
      {{"--no-proxy"}, {{"http_proxy", via}, {"all_proxy", via}}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.empty() ? "environment" : row.args[0]);
    const size_t before = proxy.Log().size();
    std::map<std::string, std::string> env = Env(*sim_);
    env.insert(row.env.begin(), row.env.end());
    const Ran ran = RunCli(Wait(row.args), Stdin::kText, {}, env);
    EXPECT_EQ(ran.status, 0) << ran.err;
    size_t downloads = 0;
    const std::vector<std::string> log = proxy.Log();
    for (size_t i = before; i < log.size(); ++i) {
      downloads += log[i].rfind("GET " + sim_->url("/dl/"), 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(downloads, row.downloads);
    fs::remove(Out("样本 数据.bin"));
  }
}

// Before any captcha is spent.
TEST_F(CliEngineTest, AnEngineThatCannotServeIsToldAtOnce) {
  Serve();
  std::ofstream(folder_ / "empty");
  std::ofstream(folder_ / "blank") << "\r\n";
  std::ofstream(folder_ / "file");
  const std::string remote = "--aria2=http://127.0.0.1:9/jsonrpc";
  const std::string secret = "--aria2-secret-file";
  const auto path = [&](const char* name) { return (folder_ / name).string(); };
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{remote, secret, path("missing")},
       "无法读取 aria2 密钥文件 " + path("missing") + "：No such file or directory。"},
      {{remote, secret, path("empty")},
       "aria2 密钥文件 " + path("empty") + " 的第一行是空的，应当是 RPC 密钥。"},
      {{remote, secret, path("blank")},
       "aria2 密钥文件 " + path("blank") + " 的第一行是空的，应当是 RPC 密钥。"},
      {{remote, secret, folder_.string()},
       "无法读取 aria2 密钥文件 " + folder_.string() + "：Is a directory。"},
      {{"--aria2", "--dir", path("file") + "/sub"},
       "无法写入下载文件夹 " + path("file") + "/sub：Not a directory。"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--json", "--captcha-program", ScriptPath("ask")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(sim_->url(kExample));
    const Ran ran = RunCli(args, Stdin::kText, {}, Env(*sim_));
    EXPECT_EQ(ran.status, 1) << c.message;
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err, "sorrel-resolve: " + c.message + "\n");
  }
  EXPECT_TRUE(AskLog().empty());
}

TEST_F(CliEngineTest, APlainAddressBeyondThisMachineIsWarnedOfOnce) {
  const std::string warning =
      ": 这个 aria2 地址不加密（http://），RPC 密钥和下载地址会以明文经过网络。\n";
  const struct {
    std::string address;
    bool warned;
  } cases[] = {{"http://192.0.2.1:6800/jsonrpc", true},
               {"https://192.0.2.1:6800/jsonrpc", false},
               {"http://127.0.0.1:6800/jsonrpc", false}};
  for (const auto& c : cases) {
    const Ran ran = RunCli({"--aria2=" + c.address, "--origin", "http://127.0.0.1:9",
                            "http://127.0.0.1:9/file/1", "http://127.0.0.1:9/file/2"});
    EXPECT_EQ(ran.status, 1);
    const std::string unreachable =
        "sorrel-resolve: http://127.0.0.1:9/file/1: 无法连接到服务。\n"
        "sorrel-resolve: http://127.0.0.1:9/file/2: 无法连接到服务。\n";
    EXPECT_EQ(ran.err, (c.warned ? "sorrel-resolve: " + c.address + warning : "") + unreachable);
  }
}

TEST_F(CliEngineTest, TwoRunsIntoOneFolderKeepTheUsersFileAndGetAFileEach) {
  Serve({"--fault", "trickle:4@/dl/*"});
  std::ofstream(Out("样本 数据.bin")) << "mine";
  auto run = [&] { return RunCli(Wait({"--json"}), Stdin::kText, {}, Env(*sim_)); };
  auto first = std::async(std::launch::async, run);
  const Ran second = run();
  for (const Ran& ran : {first.get(), second}) {
    EXPECT_EQ(ran.status, 0) << ran.err;
    ASSERT_EQ(ran.Json().size(), 1u) << ran.out;
    EXPECT_EQ(ran.Json()[0].value("download", ""), "complete");
  }
  EXPECT_TRUE(ReadAll(Out("样本 数据.bin")) == "mine");
  EXPECT_TRUE(ReadAll(Out("样本 数据.1.bin")) == content_);
  EXPECT_TRUE(ReadAll(Out("样本 数据.2.bin")) == content_);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "out"), {}), 3);
}

// The addresses come before the wait; the interrupted download is said to
// be partial and left alone, and the same run again gets a file of its own.
TEST_F(CliEngineTest, AnInterruptedWaitSaysWhatIsPartialAndTheNextRunGetsItsOwnFile) {
  Serve();
  SimGet(*sim_, "/__test/fault?set=trickle:20&path=/dl/*");
  const Ran ran = RunCliOnTerminal(Wait(), Env(*sim_), [&](pid_t pid) {
    for (int i = 0; i < 200 && !fs::exists(Out("样本 数据.bin")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(pid, SIGINT);
  });
  EXPECT_EQ(ran.status, 128 + SIGINT);
  EXPECT_EQ(ran.out.rfind("普通下载地址：\n\n" + sim_->url("/dl/"), 0), 0u) << ran.out;
  // The progress line ends its line before the message.
  EXPECT_NE(
      ran.err.find("样本 数据.bin\r\nsorrel-resolve: " + sim_->url("/file/99") + ": 下载被中断，" +
                   Out("样本 数据.bin").string() + " 只下载了一部分。\r\n"),
      std::string::npos)
      << ran.err;
  const std::string partial = ReadAll(Out("样本 数据.bin"));
  EXPECT_TRUE(fs::exists(Out("样本 数据.bin.aria2")));

  SimGet(*sim_, "/__test/fault?clear=1");
  const Ran next = RunCli(Wait({"--json"}), Stdin::kText, {}, Env(*sim_));
  EXPECT_EQ(next.status, 0) << next.err;
  ASSERT_EQ(next.Json().size(), 1u) << next.out;
  EXPECT_EQ(next.Json()[0].value("download", ""), "complete");
  EXPECT_TRUE(ReadAll(Out("样本 数据.1.bin")) == content_);
  EXPECT_TRUE(ReadAll(Out("样本 数据.bin")) == partial);
  EXPECT_TRUE(fs::exists(Out("样本 数据.bin.aria2")));
}

// Free text read with --extract, and the history that every run keeps.

// A data folder of the test's own, so that it reads only its own history.
std::map<std::string, std::string> WithData(std::map<std::string, std::string> env,
                                            const fs::path& data) {
  env["XDG_DATA_HOME"] = data.string();
  return env;
}

TEST_F(CliTest, ExtractReadsEveryPageAndLinkOfAFreeTextInOrder) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const fs::path data = *dir_ / "extract-data";
  const fs::path post = *dir_ / "帖子.txt";
  const std::string signs = "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL+aWh+S7ti56aXA/az0+Pj9aWg==";
  std::ofstream(post) << "\xEF\xBB\xBF各位好，分享几个文件：\r\n1. 样本 " << sim.url(kExample)
                      << "，提取码见楼下\r\n2. 迅雷：" << signs << "。\r\n重复："
                      << "HTTP" << sim.url(kExample).substr(4) << "\r\n3. 邮件折行："
                      << sim.url("/file/") << "\r\n12345678 谢谢\r\n坏链接：thunder://QUFodHRw "
                      << "别处的 http://other.example/file/1\r\n";
  const auto env = WithData(Env(sim), data);
  const Ran ran =
      RunCli({"--json", "--captcha-program", ScriptPath("ask"), "--extract", "-i", post.string()},
             Stdin::kText, {}, env);
  EXPECT_EQ(ran.status, 1) << ran.err;
  const std::vector<json> lines = ran.Json();
  ASSERT_EQ(lines.size(), 4u) << ran.out;
  EXPECT_EQ(lines[0]["address"], sim.url(kExample));
  EXPECT_EQ(lines[0]["status"], "ok");
  // The link is opened as the window opens a pasted one: no captcha.
  EXPECT_EQ(lines[1], json({{"address", signs},
                            {"status", "ok"},
                            {"normal", "http://dl.example/f/文件.zip?k=>>?"},
                            {"thunder", signs},
                            {"flashget",
                             "flashget://"
                             "W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2Yv5paH5Lu2LnppcD9rPT4+"
                             "P1tGTEFTSEdFVF0=&sorrel"}}));
  EXPECT_EQ(lines[2]["address"], sim.url("/file/12345678"));
  EXPECT_EQ(lines[2]["status"], "ok");
  EXPECT_EQ(lines[3], json({{"address", "thunder://QUFodHRw"},
                            {"status", "invalid"},
                            {"message", "解码后的内容不是迅雷链接的“AA…ZZ”包装。"}}));
  EXPECT_EQ(AskLog().size(), 2u);

  // The next process reads the two resolutions, newest first; the link
  // resolved nothing and is not among them.
  const Ran history = RunCli({"history", "--json"}, Stdin::kText, {}, env);
  EXPECT_EQ(history.status, 0) << history.err;
  const std::vector<json> entries = history.Json();
  ASSERT_EQ(entries.size(), 2u) << history.out;
  EXPECT_EQ(entries[0]["address"], sim.url("/file/12345678"));
  EXPECT_EQ(entries[0]["normal"], lines[2]["normal"]);
  EXPECT_EQ(entries[0]["thunder"], lines[2]["thunder"]);
  EXPECT_EQ(entries[0]["flashget"], lines[2]["flashget"]);
  EXPECT_EQ(entries[1]["address"], sim.url(kExample));
  EXPECT_EQ(entries[1]["name"], "Sorrel网盘使用说明.txt");

  // Without --extract each line is taken as an address.
  const Ran plain = RunCli({"--json", "--captcha-program", ScriptPath("ask"), "-i", post.string()},
                           Stdin::kText, {}, env);
  EXPECT_EQ(plain.status, 1);
  ASSERT_FALSE(plain.Json().empty());
  EXPECT_EQ(plain.Json()[0]["status"], "invalid");
}

TEST_F(CliTest, TheHistoryKeepsChecksAndDownloadsButNoSecretOrCookie) {
  Downloadable file(*dir_);
  const fs::path requests = *dir_ / "kept-requests.log";
  test::SimProcess sim({"--test-mode", "--file", file.Arg(), "--request-log", requests.string()});
  ASSERT_TRUE(sim.ok()) << sim.error();
  // An engine that takes the file at once and has it at the first look.
  test::LoopbackServer engine([](const std::string& request, test::LoopbackServer::Connection& c) {
    const json result = request.find("aria2.addUri") != std::string::npos
                            ? json("0123456789abcdef")
                            : json{{"gid", "0123456789abcdef"},
                                   {"status", "complete"},
                                   {"totalLength", "5"},
                                   {"completedLength", "5"}};
    c.Write(test::HttpResponse(json{{"jsonrpc", "2.0"}, {"id", "1"}, {"result", result}}.dump(),
                               "Content-Type: application/json\r\n"));
  });
  const fs::path data = *dir_ / "kept-data";
  const auto env = WithData(Env(sim), data);
  std::ofstream(file.dir / "secret") << "t0ps3cret\n";
  const std::string rpc = "http://" + engine.authority() + "/jsonrpc";
  const Ran ran =
      RunCli({"--json", "--captcha-program", ScriptPath("ask"), "--check", "--aria2=" + rpc,
              "--aria2-secret-file", (file.dir / "secret").string(), "--wait", sim.url("/file/99")},
             Stdin::kText, {}, env);
  EXPECT_EQ(ran.status, 0) << ran.err;
  const Ran skipped =
      RunCli({"--captcha-program", ScriptPath("ask"), "--no-history", "-q", sim.url(kExample)},
             Stdin::kText, {}, env);
  EXPECT_EQ(skipped.status, 0) << skipped.err;

  const Ran history = RunCli({"history", "--json"}, Stdin::kText, {}, env);
  const std::vector<json> entries = history.Json();
  ASSERT_EQ(entries.size(), 1u) << history.out;
  const json& entry = entries[0];
  EXPECT_EQ(entry["address"], sim.url("/file/99"));
  EXPECT_EQ(entry["name"], "样本 数据.bin");
  EXPECT_EQ(entry["size"], file.content.size());
  EXPECT_EQ(entry["link_status"], "ok");
  EXPECT_EQ(entry["engine"], rpc);
  EXPECT_EQ(entry["gid"], "0123456789abcdef");
  EXPECT_EQ(entry["download"], "complete");
  EXPECT_GT(entry["time"].get<long long>(), 1700000000);
  const Ran listed = RunCli({"history"}, Stdin::kText, {}, env);
  EXPECT_NE(listed.out.find("  样本 数据.bin（"), std::string::npos) << listed.out;
  EXPECT_NE(
      listed.out.find("\n文件页：" + sim.url("/file/99") + "\n普通下载地址：" +
                      std::string(ran.Json().at(0)["normal"]) +
                      "\n链接检查：下载地址有效。\naria2：已下载完成，GID：0123456789abcdef\n"),
      std::string::npos)
      << listed.out;

  // The engine was given the secret and the service its cookies; the
  // history keeps neither.
  std::vector<std::string> secrets = {"t0ps3cret"};
  std::istringstream log(ReadAll(requests));
  for (std::string line; std::getline(log, line);) {
    const json request = json::parse(line);
    for (const std::string header : request["headers"]) {
      if (header.rfind("Cookie: ", 0) != 0) continue;
      for (size_t at = 8; at < header.size();) {
        const size_t equals = header.find('=', at);
        const size_t end = std::min(header.find(';', at), header.size());
        if (equals < end) secrets.push_back(header.substr(equals + 1, end - equals - 1));
        at = end + 1;
        while (at < header.size() && header[at] == ' ') ++at;
      }
    }
  }
  ASSERT_GE(secrets.size(), 2u) << "the service was sent no cookie";
  std::string all;
  for (const std::string& request : engine.requests()) all += request;
  EXPECT_NE(all.find("token:t0ps3cret"), std::string::npos);
  const std::string kept = ReadAll(data / "sorrel-resolver" / "history");
  ASSERT_FALSE(kept.empty());
  for (const std::string& secret : secrets) {
    EXPECT_EQ(kept.find(secret), std::string::npos) << secret;
  }

  RunCli({"--captcha-program", ScriptPath("ask"), "-q", sim.url(kExample)}, Stdin::kText, {}, env);
  EXPECT_EQ(RunCli({"history", "--json"}, Stdin::kText, {}, env).Json().size(), 2u);
  const Ran newest = RunCli({"history", "--json", "--limit", "1"}, Stdin::kText, {}, env);
  ASSERT_EQ(newest.Json().size(), 1u);
  EXPECT_EQ(newest.Json()[0]["address"], sim.url(kExample));
  const Ran cleared = RunCli({"history", "--clear"}, Stdin::kText, {}, env);
  EXPECT_EQ(cleared.status, 0);
  EXPECT_EQ(cleared.out, "已清空历史记录。\n");
  EXPECT_EQ(RunCli({"history", "--json"}, Stdin::kText, {}, env).out, "");
}

// A link opened after a page is no resolution: what the engine does with it
// stays out of the page's entry.
TEST_F(CliTest, ALinkHandedOffAfterAPageLeavesThePagesEntryAlone) {
  test::SimProcess sim({"--test-mode"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  test::LoopbackServer engine([](const std::string& request, test::LoopbackServer::Connection& c) {
    const bool link = request.find("dl.example") != std::string::npos;
    c.Write(test::HttpResponse(json{{"jsonrpc", "2.0"},
                                    {"id", "1"},
                                    {"result", link ? "00000000000000ff" : "0000000000000001"}}
                                   .dump(),
                               "Content-Type: application/json\r\n"));
  });
  const fs::path post = *dir_ / "page-then-link.txt";
  std::ofstream(post) << sim.url(kExample) << "\nthunder://QUFodHRwOi8vZGwuZXhhbXBsZS8xLnppcFpa\n";
  const auto env = WithData(Env(sim), *dir_ / "link-data");
  const Ran ran = RunCli({"--json", "--captcha-program", ScriptPath("ask"), "--extract", "-i",
                          post.string(), "--aria2=http://" + engine.authority() + "/jsonrpc"},
                         Stdin::kText, {}, env);
  EXPECT_EQ(ran.status, 0) << ran.err;
  ASSERT_EQ(ran.Json().size(), 2u) << ran.out;
  EXPECT_EQ(ran.Json()[1]["gid"], "00000000000000ff");
  const std::vector<json> entries = RunCli({"history", "--json"}, Stdin::kText, {}, env).Json();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]["address"], sim.url(kExample));
  EXPECT_EQ(entries[0]["gid"], "0000000000000001");
  EXPECT_EQ(entries[0]["download"], "sent");
}

TEST_F(CliTest, ADamagedHistoryLineIsSaidOnce) {
  const fs::path data = *dir_ / "damaged-data";
  fs::create_directories(data / "sorrel-resolver");
  std::ofstream(data / "sorrel-resolver" / "history")
      << R"({"id":"a","time":1765297925,"page":"http://h/file/1","normal":"http://h/dl/1"})"
      << "\n{\"id\":\"b\",\"ti\n";
  const std::map<std::string, std::string> env = {{"XDG_DATA_HOME", data.string()}};
  const Ran first = RunCli({"history", "--json"}, Stdin::kText, {}, env);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.err, "sorrel-resolve: 历史记录里有 1 行已损坏，已跳过并删除。\n");
  ASSERT_EQ(first.Json().size(), 1u);
  EXPECT_EQ(first.Json()[0]["address"], "http://h/file/1");
  const Ran second = RunCli({"history", "--json"}, Stdin::kText, {}, env);
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(second.out, first.out);
}

TEST(CliCommandLineTest, ExtractAndHistoryOptions) {
  const Ran help = RunCli({"--help"});
  for (const char* part : {"--extract", "--no-history", "history [选项]", "--limit N", "--clear"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--extract", "x"}, "--extract 需要与 -i 一起使用"},
      {{"history", "x"}, "history 不带地址"},
      {{"history", "--clear", "--json"}, "--clear 不与 --json 或 --limit 一起使用"},
      {{"history", "--limit", "0"}, "--limit 需要 1 到 10000 之间的整数"},
      {{"history", "--limit", "10001"}, "--limit 需要 1 到 10000 之间的整数"},
      {{"history", "--check"}, "选项 --check 只用于解析文件页面"},
      {{"--limit", "3", "x"}, "选项 --limit 只用于 history"},
      {{"decode", "--no-history", "x"}, "选项 --no-history 只用于解析文件页面"},
  };
  for (const auto& [args, error] : bad) {
    const Ran ran = RunCli(args);
    EXPECT_EQ(ran.status, 2) << testing::PrintToString(args);
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err.substr(0, ran.err.find('\n')), "sorrel-resolve: " + error);
  }
}

// A download outlives its address: each time the engine comes back for the
// rest of the file (every answer is cut after 20000 bytes, which take longer
// than the address lives), the command asks for a new captcha for the same
// page and hands the address of the new login to the same file.
class CliRenewalTest : public CliEngineTest {
 protected:
  void SetUp() override {
    CliEngineTest::SetUp();
    requests_ = *dir_ / "renewal-requests.jsonl";
    fs::remove(requests_);
    Serve({"--token-seconds", "2", "--fault", "trickle:2@/dl/*", "--fault",
           "close-after:20000@/dl/*", "--request-log", requests_.string()},
          50000);
  }
  std::vector<json> Requests(const std::string& start) const {
    std::vector<json> found;
    std::ifstream in(requests_);
    for (std::string line; std::getline(in, line);) {
      json entry = json::parse(line);
      if (std::string(entry["request_line"]).rfind(start, 0) == 0) found.push_back(entry);
    }
    return found;
  }
  static std::string RangeOf(const json& request) {
    for (const std::string header : request["headers"]) {
      if (header.rfind("Range: ", 0) == 0) return header.substr(7);
    }
    return {};
  }
  std::string Notices(int count) const {
    std::string notices;
    for (int i = 0; i < count; ++i) {
      notices +=
          "sorrel-resolve: " + sim_->url("/file/99") + ": 下载地址已过期，输入验证码后继续下载。\n";
    }
    return notices;
  }

  fs::path requests_;
};

TEST_F(CliRenewalTest, AnExpiredAddressIsRenewedAndTheFileArrivesWholeWithItsBytesKept) {
  const Ran ran = RunCli(Wait({"--json", "--tries", "1"}), Stdin::kText, {}, Env(*sim_));
  EXPECT_EQ(ran.status, 0) << ran.err;
  ASSERT_EQ(ran.Json().size(), 1u) << ran.out;
  const json line = ran.Json()[0];
  EXPECT_EQ(line.value("download", ""), "complete") << line.dump();
  const int renewals = line.value("renewals", 0);
  EXPECT_GE(renewals, 1);
  EXPECT_EQ(ran.err, Notices(renewals));
  EXPECT_TRUE(ReadAll(Out("样本 数据.bin")) == content_);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "out"), {}), 1);

  // A login for the same file each time, and the engine back for the rest.
  const std::vector<json> logins = Requests("POST /guest_loginV2.php");
  EXPECT_EQ(logins.size(), static_cast<size_t>(renewals) + 1);
  for (const json& login : logins) {
    EXPECT_NE(std::string(login["body"]).find("&file_id=99&"), std::string::npos);
  }
  const std::vector<json> fetched = Requests("GET /dl/");
  ASSERT_FALSE(fetched.empty());
  int resumedOnAFreshAddress = 0;
  for (const json& request : fetched) {
    const std::string range = RangeOf(request);
    if (range.empty() || range == "bytes=0-0") continue;  // a first request, a link check
    EXPECT_GT(std::stoll(range.substr(6)), 0) << range;
    resumedOnAFreshAddress += request["request_line"] != fetched.front()["request_line"];
  }
  EXPECT_GE(resumedOnAFreshAddress, renewals);
}

TEST_F(CliRenewalTest, ADownloadWhosePageSaysTheFileIsGoneEndsAsGone) {
  auto run = std::async(std::launch::async,
                        [&] { return RunCli(Wait({"--json"}), Stdin::kText, {}, Env(*sim_)); });
  // Once the first address is out, the page says the file is gone.
  for (int i = 0; i < 200 && Requests("POST /guest_loginV2.php").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  SimGet(*sim_, std::string("/__test/fault?set=redirect:") + kRemoved + "&path=/file/99");
  const Ran ran = run.get();
  EXPECT_EQ(ran.status, 1);
  ASSERT_EQ(ran.Json().size(), 1u) << ran.out;
  const json line = ran.Json()[0];
  EXPECT_EQ(line.value("download", ""), "gone") << line.dump();
  EXPECT_EQ(line.value("message", ""), "这个文件已到期或被删除");
  EXPECT_EQ(ran.err, Notices(1));
  EXPECT_EQ(Requests("POST /guest_loginV2.php").size(), 1u);
  // What arrived stays, to be resumed by hand.
  EXPECT_TRUE(fs::exists(Out("样本 数据.bin.aria2")));
}

}  // namespace
}  // namespace sorrel
