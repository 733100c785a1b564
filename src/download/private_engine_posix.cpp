#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "download/private_engine.h"
#include "support/child_process.h"
#include "support/user_dirs_posix.h"
#include "support/write_all_posix.h"

namespace sorrel {

namespace {

constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(5);
// Ports tried when the one handed over is taken before the engine binds it.
constexpr int kPortAttempts = 3;

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

// Runs `argv` with standard output into a pipe; its first line, or empty
// when it fails or takes longer than `limit`.
std::string FirstLineOf(const std::vector<std::string>& argv, std::chrono::seconds limit) {
  int error = 0;
  const std::unique_ptr<ChildProcess> child =
      ChildProcess::Start({argv, ChildStream::kPipe, ChildStream::kNull}, error);
  if (!child) return {};
  const auto deadline = ChildProcess::Clock::now() + limit;
  const std::optional<std::string> line = child->ReadLine(deadline);
  const std::optional<ChildExit> ended = child->Wait(deadline);
  if (!line || !ended || ended->code != 0) return {};
  return *line;
}

std::string ReadSmallFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The inodes of the sockets `pid` holds.
std::set<unsigned long> SocketInodes(pid_t pid) {
  std::set<unsigned long> inodes;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return inodes;
  while (const dirent* entry = readdir(fds)) {
    char target[64];
    const std::string link = dir + "/" + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    unsigned long inode = 0;
    if (std::sscanf(target, "socket:[%lu]", &inode) == 1) inodes.insert(inode);
  }
  closedir(fds);
  return inodes;
}

enum class PortHolder { kNobody, kChild, kOther };

// Who listens where a connection to 127.0.0.1:`port` arrives: the child
// when it holds that very address, someone else when another socket holds
// it or a wildcard address of that port.
PortHolder LoopbackListener(int port, pid_t child) {
  char hexPort[8];
  std::snprintf(hexPort, sizeof hexPort, ":%04X", port);
  unsigned long exact = 0;
  bool other = false;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::istringstream lines(ReadSmallFile(table));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
      unsigned long inode = 0;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode;
      if (state != "0A" || local.size() < 5 || local.substr(local.size() - 5) != hexPort) continue;
      const std::string address = local.substr(0, local.size() - 5);
      if (address == "0100007F") {
        exact = inode;
      } else if (address == "00000000" || address == std::string(32, '0') ||
                 address == "0000000000000000FFFF00000100007F") {
        other = true;
      }
    }
  }
  // The table first, the child's descriptors after: a socket listed is
  // already among them.
  if (exact != 0 && SocketInodes(child).count(exact) > 0) return PortHolder::kChild;
  return exact != 0 || other ? PortHolder::kOther : PortHolder::kNobody;
}

// The cookies in the Netscape format aria2 loads: each for `host` alone,
// never its subdomains. Pieces that would break a line are left out.
std::string NetscapeCookies(const HostCookies& cookies) {
  std::string file = "# Netscape HTTP Cookie File\n";
  std::istringstream pieces(cookies.line);
  for (std::string piece; std::getline(pieces, piece, ';');) {
    const std::size_t first = piece.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    piece.erase(0, first);
    const std::size_t equals = piece.find('=');
    if (equals == 0 || equals == std::string::npos ||
        piece.find_first_of("\t\r\n") != std::string::npos) {
      continue;
    }
    file += cookies.host + "\tFALSE\t/\t" + (cookies.secureOnly ? "TRUE" : "FALSE") + "\t0\t" +
            piece.substr(0, equals) + "\t" + piece.substr(equals + 1) + "\n";
  }
  return file;
}

// A new file only this user can read, holding `text`; empty on failure.
std::string PrivateFile(const std::string& dir, const char* stem, const std::string& text) {
  std::string path = dir + "/" + stem + "-XXXXXX";
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return {};
  fchmod(fd, 0600);
  const bool written = WriteAll(fd, text);
  if (close(fd) != 0 || !written) {
    unlink(path.c_str());
    return {};
  }
  return path;
}

std::string HowItEnded(const ChildExit& exit) {
  return exit.signal != 0 ? "信号 " + std::to_string(exit.signal)
                          : "退出码 " + std::to_string(exit.code);
}

class PosixPrivateEngine : public PrivateEngine {
 public:
  PosixPrivateEngine(std::unique_ptr<ChildProcess> child, Aria2Endpoint endpoint, std::string dir)
      : child_(std::move(child)), endpoint_(std::move(endpoint)), dir_(std::move(dir)) {}

  // SIGTERM lets the engine close its files and control files properly.
  ~PosixPrivateEngine() override { child_->Stop(kStopWait, SIGTERM); }

  const Aria2Endpoint& Endpoint() const override { return endpoint_; }
  const std::string& DownloadDir() const override { return dir_; }
  long ProcessId() const override { return static_cast<long>(child_->Id()); }
  bool Running() override { return child_->Running(); }

 private:
  std::unique_ptr<ChildProcess> child_;
  Aria2Endpoint endpoint_;
  std::string dir_;
};

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

// "stem.k.ext", the k-th other name aria2 would give `name`.
std::string Numbered(const std::string& name, int k) {
  if (k == 0) return name;
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + "." + std::to_string(k);
  return name.substr(0, dot) + "." + std::to_string(k) + name.substr(dot);
}

// A stable file name for the hold on one path (FNV-1a, 64 bits).
std::string HoldFileFor(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : path) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

// A hold is a lock on a file of the tool's own folder, not in the user's
// download folder; the kernel lets it go when a run dies.
class PosixNameHold : public NameHold {
 public:
  PosixNameHold(std::string name, std::string lockPath, int fd)
      : name_(std::move(name)), lockPath_(std::move(lockPath)), fd_(fd) {}
  ~PosixNameHold() override {
    // Removed while still locked: a run that opened it meanwhile sees it
    // gone once it gets the lock, and opens the path anew.
    unlink(lockPath_.c_str());
    close(fd_);
  }
  const std::string& Name() const override { return name_; }

 private:
  std::string name_;
  std::string lockPath_;
  int fd_;
};

// The lock on `lockPath`, or -1 when another run holds it.
int LockHoldFile(const std::string& lockPath, int& openError) {
  for (;;) {
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      openError = errno;
      return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      return -1;
    }
    struct stat opened {
    }, named{};
    if (fstat(fd, &opened) == 0 && stat(lockPath.c_str(), &named) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
      return fd;
    }
    close(fd);
  }
}

}  // namespace

std::unique_ptr<NameHold> HoldFileName(const std::string& dir, const std::string& name,
                                       const std::string& dataDir) {
  const std::string holds = dataDir + "/held";
  if (!MakePrivateFolder(holds)) return nullptr;
  for (int k = 0; k < 10000; ++k) {
    const std::string candidate = Numbered(name, k);
    const std::string path = dir + "/" + candidate;
    // A partial download (its control file) belongs to the run that began it.
    auto taken = [&] { return Exists(path) || Exists(path + ".aria2"); };
    if (taken()) continue;
    const std::string lockPath = holds + "/" + HoldFileFor(path);
    int openError = 0;
    const int fd = LockHoldFile(lockPath, openError);
    if (fd < 0) {
      if (openError != 0) return nullptr;
      continue;
    }
    auto hold = std::make_unique<PosixNameHold>(candidate, lockPath, fd);
    // Checked again under the hold: another run may have made it meanwhile.
    if (!taken()) return hold;
  }
  return nullptr;
}

std::string UserDownloadDir() {
  const std::string home = HomeFolder();
  std::string dir = FirstLineOf({"xdg-user-dir", "DOWNLOAD"}, kStartWait);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // xdg-user-dir answers the home folder itself when none is configured.
  if (dir.empty() || dir[0] != '/' || dir == home) dir = home + "/Downloads";
  return dir;
}

std::string EngineDataDir() { return UserDataFolder() + "/sorrel-resolver"; }

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
  const std::string dataDir = options.dataDir.empty() ? EngineDataDir() : options.dataDir;
  // The secret and the cookies pass through the data folder: it must be
  // the user's alone.
  if (std::string why; !MakePrivateFolder(dataDir, &why)) {
    error = why;
    return nullptr;
  }
  if (!MakeDirs(dir, 0755)) {
    error = "无法创建文件夹 " + dir + "：" + std::strerror(errno) + "。";
    return nullptr;
  }
  const std::string secret = RandomSecret();
  if (secret.empty()) {
    error = "无法为下载引擎准备密钥。";
    return nullptr;
  }

  // The secret and the cookies travel in files only this user can read,
  // removed as soon as the engine has read them.
  std::vector<std::string> handedFiles;
  auto removeHanded = [&] {
    for (const std::string& path : handedFiles) unlink(path.c_str());
  };
  handedFiles.push_back(PrivateFile(dataDir, "aria2", "rpc-secret=" + secret + "\n"));
  if (!options.cookies.line.empty() && !options.cookies.host.empty()) {
    handedFiles.push_back(PrivateFile(dataDir, "cookies", NetscapeCookies(options.cookies)));
  }
  for (const std::string& path : handedFiles) {
    if (path.empty()) {
      removeHanded();
      error = "无法写入下载引擎的配置文件：" + std::string(std::strerror(errno)) + "。";
      return nullptr;
    }
  }

  // Nothing of an earlier run is resumed (no session), nothing is followed
  // or shared (no BitTorrent, DHT or Metalink), and an existing file is
  // never written into.
  std::vector<std::string> common = {
      "--conf-path=" + handedFiles[0],
      "--enable-rpc=true",
      "--rpc-listen-all=false",
      "--stop-with-process=" + std::to_string(getpid()),
      "--dir=" + dir,
      "--daemon=false",
      "--auto-file-renaming=true",
      "--enable-dht=false",
      "--enable-dht6=false",
      "--bt-enable-lpd=false",
      "--follow-torrent=false",
      "--follow-metalink=false",
  };
  if (handedFiles.size() > 1) common.push_back("--load-cookies=" + handedFiles[1]);

  std::string why;
  const std::size_t attempts = options.rpcPorts.size() + kPortAttempts;
  for (std::size_t attempt = 0; attempt < attempts; ++attempt) {
    const int port =
        attempt < options.rpcPorts.size() ? options.rpcPorts[attempt] : FreeLoopbackPort();
    if (port == 0) {
      why = "没有空闲的端口";
      continue;
    }
    std::vector<std::string> argv = {program, "--rpc-listen-port=" + std::to_string(port)};
    argv.insert(argv.end(), common.begin(), common.end());
    // No death signal: it fires when the thread that started the engine
    // ends, and a window starts it from a thread of its own. The engine
    // watches this process instead (--stop-with-process).
    ChildLaunch launch{std::move(argv), ChildStream::kNull, ChildStream::kNull};
    // It holds no socket or file of ours, so that a socket it listens on is
    // its own.
    launch.closeOtherDescriptors = true;
    if (!options.environmentProxy) {
      launch.dropEnvironment = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                "ftp_proxy",  "FTP_PROXY",  "all_proxy",   "ALL_PROXY",
                                "no_proxy",   "NO_PROXY"};
    }
    int spawned = 0;
    std::unique_ptr<ChildProcess> child = ChildProcess::Start(launch, spawned);
    if (!child) {
      removeHanded();
      error = "无法启动 " + program + "：" + std::strerror(spawned) + "。";
      return nullptr;
    }

    // The secret goes out only once the port is known to be the engine's:
    // a port taken by someone else between our choice and the engine's bind
    // makes the engine listen elsewhere or end.
    const auto deadline = ChildProcess::Clock::now() + kStartWait;
    PortHolder holder = PortHolder::kNobody;
    std::optional<ChildExit> ended;
    while ((holder = LoopbackListener(port, child->Id())) == PortHolder::kNobody) {
      if ((ended = child->Wait(ChildProcess::Clock::now()))) break;
      if (ChildProcess::Clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ended) {
      why = "启动后随即退出（" + HowItEnded(*ended) + "）";
      continue;
    }
    if (holder != PortHolder::kChild) {
      child.reset();
      if (holder == PortHolder::kOther) {
        why = "端口 " + std::to_string(port) + " 已被别的程序占用";
        continue;
      }
      removeHanded();
      error = "下载引擎 aria2c 已启动，但没有在本机回环地址上开始监听。";
      return nullptr;
    }

    const Aria2Endpoint endpoint{"http://127.0.0.1:" + std::to_string(port) + "/jsonrpc", secret,
                                 true};
    Aria2Client client(stack, threads, endpoint, 1000);
    for (;;) {
      if (const std::optional<ChildExit> exit = child->Wait(ChildProcess::Clock::now())) {
        removeHanded();
        error = "下载引擎 aria2c 启动后随即退出（" + HowItEnded(*exit) + "）。";
        return nullptr;
      }
      Aria2Error failure;
      if (!client.GetVersion(failure).empty()) break;
      if (ChildProcess::Clock::now() >= deadline) {
        removeHanded();
        child.reset();
        error = "下载引擎 aria2c 已启动，但没有应答：" + failure.message;
        return nullptr;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    removeHanded();
    return std::make_unique<PosixPrivateEngine>(std::move(child), endpoint, dir);
  }
  removeHanded();
  error = "下载引擎 aria2c 无法在本机回环地址上开始监听：" + why + "（试了 " +
          std::to_string(attempts) + " 个端口）。";
  return nullptr;
}

}  // namespace sorrel
