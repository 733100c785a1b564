#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "download/private_engine.h"
#include "support/write_all_posix.h"

extern char** environ;

namespace sorrel {

namespace {

constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(5);

std::string FindInPath(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return access(program.c_str(), X_OK) == 0 ? program : std::string();
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start);
    candidate = (candidate.empty() ? "." : candidate) + "/" + program;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return {};
}

std::string Home() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? home : "";
}

// Creates `dir` and its missing parents; the last one with `mode`.
bool MakeDirs(const std::string& dir, mode_t mode) {
  for (std::size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1)) {
    mkdir(dir.substr(0, slash).c_str(), 0755);
  }
  if (mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const std::string base =
      xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : Home() + "/.local/share";
  return base + "/sorrel-resolver";
}

// A loopback port nobody listens on at the moment.
int FreeLoopbackPort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(s);
  return port;
}

std::string RandomSecret() {
  unsigned char bytes[16];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    got += static_cast<std::size_t>(n);
  }
  static const char digits[] = "0123456789abcdef";
  std::string secret;
  for (const unsigned char b : bytes) {
    secret += digits[b >> 4];
    secret += digits[b & 15];
  }
  return secret;
}

// Runs `argv` with standard output into a pipe; its first line.
std::string FirstLineOf(const std::vector<std::string>& argv) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string out;
  if (spawned == 0) {
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0 && out.size() < 4096) out.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out.clear();
  }
  close(pipeFds[0]);
  return out.substr(0, out.find('\n'));
}

class PosixPrivateEngine : public PrivateEngine {
 public:
  PosixPrivateEngine(pid_t pid, Aria2Endpoint endpoint, std::string dir)
      : pid_(pid), endpoint_(std::move(endpoint)), dir_(std::move(dir)) {}

  ~PosixPrivateEngine() override {
    // SIGTERM lets the engine write its session before it ends.
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  const Aria2Endpoint& Endpoint() const override { return endpoint_; }
  const std::string& DownloadDir() const override { return dir_; }
  long ProcessId() const override { return static_cast<long>(pid_); }

 private:
  pid_t pid_;
  Aria2Endpoint endpoint_;
  std::string dir_;
};

}  // namespace

std::string UserDownloadDir() {
  const std::string home = Home();
  std::string dir = FirstLineOf({"xdg-user-dir", "DOWNLOAD"});
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // xdg-user-dir answers the home folder itself when none is configured.
  if (dir.empty() || dir[0] != '/' || dir == home) dir = home + "/Downloads";
  return dir;
}

std::unique_ptr<PrivateEngine> PrivateEngine::Start(HttpStack& stack, ThreadSystem& threads,
                                                    const PrivateEngineOptions& options,
                                                    std::string& error) {
  const std::string program = FindInPath(options.program);
  if (program.empty()) {
    error =
        "找不到下载引擎 aria2c。请先安装 aria2（Debian、Ubuntu：sudo apt install aria2），"
        "或填写一个正在运行的 aria2 的 RPC 地址。";
    return nullptr;
  }
  const std::string dir = options.downloadDir.empty() ? UserDownloadDir() : options.downloadDir;
  const std::string dataDir = options.dataDir.empty() ? DataDir() : options.dataDir;
  for (const auto& [folder, mode] : {std::pair{dataDir, 0700}, std::pair{dir, 0755}}) {
    if (!MakeDirs(folder, static_cast<mode_t>(mode))) {
      error = "无法创建文件夹 " + folder + "：" + std::strerror(errno) + "。";
      return nullptr;
    }
  }
  chmod(dataDir.c_str(), 0700);
  const std::string secret = RandomSecret();
  const int port = FreeLoopbackPort();
  if (secret.empty() || port == 0) {
    error = "无法为下载引擎准备端口或密钥。";
    return nullptr;
  }

  // The secret travels in a file only this user can read, removed as soon
  // as the engine has read it.
  std::string confPath = dataDir + "/aria2-XXXXXX";
  const int conf = mkostemp(confPath.data(), O_CLOEXEC);
  if (conf < 0) {
    error = "无法写入下载引擎的配置文件：" + std::string(std::strerror(errno)) + "。";
    return nullptr;
  }
  fchmod(conf, 0600);
  const bool written = WriteAll(conf, "rpc-secret=" + secret + "\n");
  close(conf);
  if (!written) {
    unlink(confPath.c_str());
    error = "无法写入下载引擎的配置文件。";
    return nullptr;
  }

  const std::string session = dataDir + "/aria2.session";
  std::vector<std::string> argv = {
      program,
      "--conf-path=" + confPath,
      "--enable-rpc=true",
      "--rpc-listen-all=false",
      "--rpc-listen-port=" + std::to_string(port),
      "--stop-with-process=" + std::to_string(getpid()),
      "--dir=" + dir,
      "--save-session=" + session,
      "--save-session-interval=10",
      "--force-save=false",
      "--continue=true",
      "--daemon=false",
  };
  if (access(session.c_str(), R_OK) == 0) argv.push_back("--input-file=" + session);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    unlink(confPath.c_str());
    error = "无法启动 " + program + "：" + std::strerror(spawned) + "。";
    return nullptr;
  }

  const Aria2Endpoint endpoint{"http://127.0.0.1:" + std::to_string(port) + "/jsonrpc", secret};
  Aria2Client client(stack, threads, endpoint, 1000);
  const auto deadline = std::chrono::steady_clock::now() + kStartWait;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      unlink(confPath.c_str());
      error = "下载引擎 aria2c 启动后随即退出（" +
              (WIFEXITED(status) ? "退出码 " + std::to_string(WEXITSTATUS(status))
                                 : "信号 " + std::to_string(WTERMSIG(status))) +
              "）。";
      return nullptr;
    }
    Aria2Error failure;
    if (!client.GetVersion(failure).empty()) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      unlink(confPath.c_str());
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      error = "下载引擎 aria2c 已启动，但没有应答：" + failure.message;
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  unlink(confPath.c_str());
  return std::make_unique<PosixPrivateEngine>(pid, endpoint, dir);
}

}  // namespace sorrel
