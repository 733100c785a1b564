// The Windows program's own engine, started as the program starts it but
// with a stand-in aria2c.exe that records how, and the settings it keeps.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/download_settings.h"
#include "download/private_engine.h"
#include "http/http_stack_wininet.h"
#include "http/worker_thread.h"
#include "support/user_dirs_win32.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;

// Abandoned request workers may outlive a test, so the stack lives on.
HttpStack& Stack() {
  static auto* stack = new WinInetHttpStack();
  return *stack;
}

fs::path OwnFolder() {
  wchar_t own[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
  return fs::path(std::wstring(own, n)).parent_path();
}

fs::path FreshDir(const std::wstring& name) {
  const fs::path dir = fs::temp_directory_path() /
                       (L"sorrel-" + name + L"-" + std::to_wstring(GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string Utf8(const fs::path& path) { return Utf8FromWide(path.wstring()); }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(PrivateEngineWin32, StartsOnLoopbackWithItsSecretInAFileForTheUserAlone) {
  const fs::path work = FreshDir(L"engine");
  const fs::path record = work / "record.txt";
  SetEnvironmentVariableW(L"SORREL_STANDIN_RECORD", record.wstring().c_str());
  PrivateEngineOptions options;
  options.program = Utf8(OwnFolder() / "aria2c.exe");
  options.downloadDir = Utf8(work / L"下载");
  options.dataDir = Utf8(work / "data");
  std::string error;
  std::unique_ptr<PrivateEngine> engine =
      PrivateEngine::Start(Stack(), PlatformThreads(), options, error);
  ASSERT_TRUE(engine) << error;
  const Aria2Endpoint& endpoint = engine->Endpoint();
  EXPECT_EQ(endpoint.address.rfind("http://127.0.0.1:", 0), 0u) << endpoint.address;
  EXPECT_EQ(endpoint.secret.size(), 32u);
  EXPECT_TRUE(endpoint.own);
  EXPECT_TRUE(fs::is_directory(work / L"下载"));

  const std::string seen = ReadFile(record);
  const std::string port = endpoint.address.substr(17, endpoint.address.find('/', 17) - 17);
  EXPECT_NE(seen.find(" --rpc-listen-port=" + port + " "), std::string::npos) << seen;
  EXPECT_NE(seen.find(" --rpc-listen-all=false "), std::string::npos) << seen;
  EXPECT_NE(seen.find(" --stop-with-process=" + std::to_string(GetCurrentProcessId()) + " "),
            std::string::npos)
      << seen;
  EXPECT_EQ(seen.find(endpoint.secret), seen.find("conf=rpc-secret=" + endpoint.secret) + 16)
      << "the secret is on the command line: " << seen;
  EXPECT_NE(seen.find("\nconf=rpc-secret=" + endpoint.secret + "\naccess="), std::string::npos)
      << seen;
  // Wine keeps no descriptor of a file: it shows one made from the host's
  // file mode, whatever was set.
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
    EXPECT_NE(seen.find("\naccess=user-only\n"), std::string::npos) << seen;
  }
  // The configuration file is gone once the engine has answered.
  EXPECT_TRUE(fs::is_empty(work / "data"))
      << fs::begin(fs::directory_iterator(work / "data"))->path();

  const long pid = engine->ProcessId();
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  ASSERT_NE(process, nullptr);
  engine.reset();
  // Asked to shut down over its port (no signal reaches it), it has ended.
  EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
  CloseHandle(process);
  EXPECT_EQ(ReadFile(record).substr(seen.size()), "asked to shut down\n");
  SetEnvironmentVariableW(L"SORREL_STANDIN_RECORD", nullptr);
}

TEST(PrivateEngineWin32, WithoutAria2TheSendSaysWhereToGetOrSetIt) {
  PrivateEngineOptions options;
  options.program = "aria2c-not-installed";
  options.dataDir = Utf8(FreshDir(L"missing"));
  std::string error;
  EXPECT_FALSE(PrivateEngine::Start(Stack(), PlatformThreads(), options, error));
  EXPECT_EQ(error,
            "找不到下载引擎 aria2c。请把 aria2c.exe 放在本程序旁边或 PATH 里的文件夹中，"
            "或在“下载设置...”里填写一个正在运行的 aria2 的 RPC 地址。");
}

TEST(PrivateEngineWin32, NamesAreHeldAgainstOtherDownloadsAndPartialFiles) {
  const fs::path dir = FreshDir(L"held");
  const std::string data = Utf8(dir / "data");
  std::ofstream(dir / L"样本 数据.bin") << "mine";
  std::ofstream(dir / L"样本 数据.1.bin.aria2") << "another run's";
  auto first = HoldFileName(Utf8(dir), "样本 数据.bin", data);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Name(), "样本 数据.2.bin");
  auto second = HoldFileName(Utf8(dir), "样本 数据.bin", data);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Name(), "样本 数据.3.bin");
  first.reset();
  auto again = HoldFileName(Utf8(dir), "样本 数据.bin", data);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Name(), "样本 数据.2.bin");
}

TEST(PrivateEngineWin32, FoldersAreTheUsersKnownOnes) {
  EXPECT_EQ(EngineDataDir(), LocalDataFolder() + "\\sorrel-resolver");
  EXPECT_EQ(UserDownloadDir(), DownloadsFolder());
  for (const std::string& folder : {LocalDataFolder(), RoamingDataFolder(), DownloadsFolder()}) {
    EXPECT_EQ(folder.find(":\\"), 1u) << folder;
  }
  EXPECT_NE(LocalDataFolder(), RoamingDataFolder());
}

// Every file under `folder` whose bytes hold `text` (UTF-8 or UTF-16).
void FilesHolding(const fs::path& folder, const std::string& text, std::vector<fs::path>& found) {
  const std::wstring wide = WideFromUtf8(text);
  const std::string utf16(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_symlink(error)) continue;
    if (it->is_directory(error)) {
      FilesHolding(it->path(), text, found);
    } else if (it->is_regular_file(error)) {
      const std::string bytes = ReadFile(it->path());
      if (bytes.find(text) != std::string::npos || bytes.find(utf16) != std::string::npos) {
        found.push_back(it->path());
      }
    }
  }
}

std::vector<fs::path> FilesHolding(const fs::path& folder, const std::string& text) {
  std::vector<fs::path> found;
  FilesHolding(folder, text, found);
  return found;
}

TEST(DownloadSettingsWin32, SurviveAReloadWithTheSecretsSealed) {
  const DownloadSettings saved{
      "http://192.168.1.20:6800/jsonrpc",
      "s3cret-of-the-engine-7f2a",
      "D:\\下载\\网盘",
      true,
      {ProxyKind::kHttp, "proxy.example", 3128, "用户", "pr0xy-pass-word-91c"}};
  ASSERT_TRUE(UserSettingsStore().Save(saved));
  EXPECT_EQ(UserSettingsStore().Load(), saved);
  const fs::path kept = fs::path(WideFromUtf8(RoamingDataFolder())) / "sorrel-resolver";
  EXPECT_TRUE(fs::exists(kept / "settings.json"));
  EXPECT_FALSE(fs::exists(kept / "settings.json.new"));

  // Where a program of the user's writes: its own folders, WinInet's cache
  // and the temporary files (the profile's other folders are the host's own
  // home under wine).
  const fs::path roaming(WideFromUtf8(RoamingDataFolder()));
  const fs::path local(WideFromUtf8(LocalDataFolder()));
  for (const char* sealed : {"s3cret-of-the-engine-7f2a", "pr0xy-pass-word-91c"}) {
    for (const fs::path& folder : {roaming / "sorrel-resolver", local / "sorrel-resolver",
                                   local / "Microsoft", fs::temp_directory_path()}) {
      EXPECT_EQ(FilesHolding(folder, sealed), std::vector<fs::path>()) << sealed;
    }
  }
  // The address is no secret: kept in clear where the user can read it.
  EXPECT_EQ(FilesHolding(kept, "http://192.168.1.20:6800/jsonrpc").size(), 1u);

  // Rewritten whole: nothing of the earlier settings stays.
  ASSERT_TRUE(UserSettingsStore().Save({}));
  EXPECT_EQ(UserSettingsStore().Load(), DownloadSettings{});
}

}  // namespace
}  // namespace sorrel
