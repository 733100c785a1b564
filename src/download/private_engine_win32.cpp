// Winsock before windows.h, which would bring the old one; the rest after.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>
#include <iphlpapi.h>

#include <chrono>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "download/engine_files.h"
#include "download/private_engine.h"
#include "support/child_process.h"
#include "support/user_dirs_win32.h"

namespace sorrel {

namespace {

constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(5);
// Ports tried when the one handed over is taken before the engine binds it.
constexpr int kPortAttempts = 3;

std::string SystemError(DWORD code) { return "错误 " + std::to_string(code); }

std::string FolderOf(const std::wstring& path) {
  return Utf8FromWide(path.substr(0, path.find_last_of(L"\\/") + 1));
}

// The program beside this one first, then along PATH; a path is taken as it is.
std::string FindProgram(const std::string& program) {
  if (program.find_first_of("/\\") != std::string::npos) {
    return PathTaken(program) ? program : std::string();
  }
  const std::wstring name = WideFromUtf8(program);
  wchar_t own[MAX_PATH];
  const DWORD ownLength = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (ownLength > 0 && ownLength < MAX_PATH) {
    const std::string beside = FolderOf(std::wstring(own, ownLength)) + program;
    for (const std::string& candidate : {beside, beside + ".exe"}) {
      const DWORD attributes = GetFileAttributesW(WideFromUtf8(candidate).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return candidate;
      }
    }
  }
  const DWORD pathSize = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (pathSize == 0) return {};
  std::wstring path(pathSize, L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), pathSize));
  wchar_t found[MAX_PATH];
  const DWORD length = SearchPathW(path.c_str(), name.c_str(), L".exe", MAX_PATH, found, nullptr);
  return length > 0 && length < MAX_PATH ? Utf8FromWide(std::wstring(found, length))
                                         : std::string();
}

bool SocketsReady() {
  static const bool ready = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

// A loopback port nobody listens on at the moment.
int FreeLoopbackPort() {
  if (!SocketsReady()) return 0;
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  closesocket(s);
  return port;
}

std::string RandomSecret() {
  unsigned char bytes[16];
  if (!BCRYPT_SUCCESS(
          BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return {};
  }
  static const char digits[] = "0123456789abcdef";
  std::string secret;
  for (const unsigned char b : bytes) {
    secret += digits[b >> 4];
    secret += digits[b & 15];
  }
  return secret;
}

enum class PortHolder { kNobody, kChild, kOther };

// Who listens where a connection to 127.0.0.1:`port` arrives: the child
// when it holds that very address, someone else when another process holds
// it or a wildcard address of that port.
PortHolder LoopbackListener(int port, DWORD child) {
  ULONG size = 0;
  GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  std::vector<unsigned char> memory(size + 4096);
  size = static_cast<ULONG>(memory.size());
  if (GetExtendedTcpTable(memory.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0) !=
      NO_ERROR) {
    return PortHolder::kNobody;
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(memory.data());
  bool mine = false;
  bool other = false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    if (ntohs(static_cast<u_short>(row.dwLocalPort)) != port) continue;
    const bool loopback = row.dwLocalAddr == htonl(INADDR_LOOPBACK);
    // A system that cannot tell the owner says 0 (wine does): the port was
    // free a moment before the child started, which must do then.
    if (loopback && (row.dwOwningPid == child || row.dwOwningPid == 0)) {
      mine = true;
    } else if (loopback || row.dwLocalAddr == INADDR_ANY) {
      other = true;
    }
  }
  if (other) return PortHolder::kOther;
  return mine ? PortHolder::kChild : PortHolder::kNobody;
}

// The user this process runs as, for a DACL that lets that user alone in.
std::vector<unsigned char> CurrentUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  CloseHandle(token);
  return user;
}

// A new file only this user can open (a protected DACL with one entry for
// the user), holding `text`; empty on failure with the system's error.
std::string PrivateFile(const std::string& dir, const char* stem, const std::string& text,
                        DWORD& failure) {
  const std::vector<unsigned char> user = CurrentUser();
  if (user.empty()) {
    failure = GetLastError();
    return {};
  }
  PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
  std::vector<unsigned char> aclMemory(aclSize);
  auto* acl = reinterpret_cast<PACL>(aclMemory.data());
  SECURITY_DESCRIPTOR descriptor{};
  if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
      !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    failure = GetLastError();
    return {};
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string path = dir + "\\" + stem + "-" + RandomSecret().substr(0, 12);
    const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE | WRITE_DAC, 0,
                                    &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      failure = GetLastError();
      if (failure == ERROR_FILE_EXISTS) continue;
      return {};
    }
    // Set again on the open file, before the secret goes in: a file system
    // that kept no descriptor at creation (wine's) keeps this one.
    const DWORD secured = SetSecurityInfo(
        file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, acl, nullptr);
    if (secured != ERROR_SUCCESS) {
      CloseHandle(file);
      DeleteFileW(WideFromUtf8(path).c_str());
      failure = secured;
      return {};
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    failure = GetLastError();
    if (!CloseHandle(file) || !whole) {
      DeleteFileW(WideFromUtf8(path).c_str());
      return {};
    }
    return path;
  }
  return {};
}

std::string HowItEnded(const ChildExit& exit) { return "退出码 " + std::to_string(exit.code); }

class WindowsPrivateEngine : public PrivateEngine {
 public:
  WindowsPrivateEngine(std::unique_ptr<ChildProcess> child, Aria2Endpoint endpoint, std::string dir,
                       HttpStack& stack, ThreadSystem& threads)
      : child_(std::move(child)),
        endpoint_(std::move(endpoint)),
        dir_(std::move(dir)),
        stack_(stack),
        threads_(threads) {}

  // Windows has no signal to ask it to end: the engine is asked over its
  // port, so that it closes its files and control files properly.
  ~WindowsPrivateEngine() override {
    if (child_->Running()) {
      Aria2Error ignored;
      Aria2Client(stack_, threads_, endpoint_, 1000).Shutdown(ignored);
    }
    child_->Stop(kStopWait);
  }

  const Aria2Endpoint& Endpoint() const override { return endpoint_; }
  const std::string& DownloadDir() const override { return dir_; }
  long ProcessId() const override { return static_cast<long>(child_->Id()); }
  bool Running() override { return child_->Running(); }

 private:
  std::unique_ptr<ChildProcess> child_;
  Aria2Endpoint endpoint_;
  std::string dir_;
  HttpStack& stack_;
  ThreadSystem& threads_;
};

// A hold is a file of the tool's own folder opened by this run alone and
// deleted when closed; the system closes it when a run dies.
class WindowsNameHold : public NameHold {
 public:
  WindowsNameHold(std::string name, HANDLE file) : name_(std::move(name)), file_(file) {}
  ~WindowsNameHold() override { CloseHandle(file_); }
  const std::string& Name() const override { return name_; }

 private:
  std::string name_;
  HANDLE file_;
};

}  // namespace

std::unique_ptr<NameHold> HoldFileName(const std::string& dir, const std::string& name,
                                       const std::string& dataDir) {
  const std::string holds = dataDir + "\\held";
  if (!MakeFolders(holds)) return nullptr;
  for (int k = 0; k < 10000; ++k) {
    const std::string candidate = NumberedName(name, k);
    const std::string path = dir + "/" + candidate;
    // A partial download (its control file) belongs to the run that began it.
    auto taken = [&] { return PathTaken(path) || PathTaken(path + ".aria2"); };
    if (taken()) continue;
    const HANDLE file = CreateFileW(WideFromUtf8(holds + "\\" + HoldKey(path)).c_str(),
                                    GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // Held by another run: the next name.
      if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) continue;
      return nullptr;
    }
    auto hold = std::make_unique<WindowsNameHold>(candidate, file);
    // Checked again under the hold: another run may have made it meanwhile.
    if (!taken()) return hold;
  }
  return nullptr;
}

std::string UserDownloadDir() { return DownloadsFolder(); }

std::string EngineDataDir() { return LocalDataFolder() + "\\sorrel-resolver"; }

std::unique_ptr<PrivateEngine> PrivateEngine::Start(HttpStack& stack, ThreadSystem& threads,
                                                    const PrivateEngineOptions& options,
                                                    std::string& error) {
  const std::string program = FindProgram(options.program);
  if (program.empty()) {
    error =
        "找不到下载引擎 aria2c。请把 aria2c.exe 放在本程序旁边或 PATH 里的文件夹中，"
        "或在“下载设置...”里填写一个正在运行的 aria2 的 RPC 地址。";
    return nullptr;
  }
  const std::string dir = options.downloadDir.empty() ? UserDownloadDir() : options.downloadDir;
  const std::string dataDir = options.dataDir.empty() ? EngineDataDir() : options.dataDir;
  if (!MakeFolders(dataDir)) {
    error = "无法创建文件夹 " + dataDir + "：" + SystemError(GetLastError()) + "。";
    return nullptr;
  }
  if (dir.empty() || !MakeFolders(dir)) {
    error = "无法创建文件夹 " + dir + "：" + SystemError(GetLastError()) + "。";
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
    for (const std::string& path : handedFiles) DeleteFileW(WideFromUtf8(path).c_str());
  };
  DWORD failure = 0;
  handedFiles.push_back(PrivateFile(dataDir, "aria2", "rpc-secret=" + secret + "\n", failure));
  if (!handedFiles.back().empty() && !options.cookies.line.empty() &&
      !options.cookies.host.empty()) {
    handedFiles.push_back(
        PrivateFile(dataDir, "cookies", NetscapeCookies(options.cookies), failure));
  }
  for (const std::string& path : handedFiles) {
    if (path.empty()) {
      removeHanded();
      error = "无法写入下载引擎的配置文件：" + SystemError(failure) + "。";
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
      "--stop-with-process=" + std::to_string(GetCurrentProcessId()),
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
    ChildLaunch launch{std::move(argv), ChildStream::kNull, ChildStream::kNull};
    if (!options.environmentProxy) {
      launch.dropEnvironment = {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy"};
    }
    int spawned = 0;
    std::unique_ptr<ChildProcess> child = ChildProcess::Start(launch, spawned);
    if (!child) {
      removeHanded();
      error = "无法启动 " + program + "（" + std::to_string(spawned) + "）。";
      return nullptr;
    }

    // The secret goes out only once the port is known to be the engine's.
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
      Aria2Error attemptFailure;
      if (!client.GetVersion(attemptFailure).empty()) break;
      if (ChildProcess::Clock::now() >= deadline) {
        removeHanded();
        child.reset();
        error = "下载引擎 aria2c 已启动，但没有应答：" + attemptFailure.message;
        return nullptr;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    removeHanded();
    return std::make_unique<WindowsPrivateEngine>(std::move(child), endpoint, dir, stack, threads);
  }
  removeHanded();
  error = "下载引擎 aria2c 无法在本机回环地址上开始监听：" + why + "（试了 " +
          std::to_string(attempts) + " 个端口）。";
  return nullptr;
}

}  // namespace sorrel
