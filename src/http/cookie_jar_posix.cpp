#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "http/cookie_jar.h"
#include "support/user_dirs_posix.h"
#include "support/write_all_posix.h"

namespace sorrel {

namespace {

// Far more than any cookie file; a bigger one is not ours.
constexpr off_t kMaxFileBytes = 16 << 20;
// Another copy holds the lock only while it writes a few kilobytes.
constexpr auto kLockPatience = std::chrono::seconds(10);
// Set-aside copies kept side by side before the oldest names are reused.
constexpr int kAsideNames = 100;

constexpr char kKeptInMemory[] = "本次运行的 Cookie 只保存在内存中。";

std::atomic<void (*)()> g_writeHook{nullptr};

// Holds the lock file beside the cookie file for one read-merge-write.
class FileLock {
 public:
  FileLock(const std::string& path, std::string& why) {
    fd_ = OpenPrivateFile(path + ".lock", O_RDWR | O_CREAT, &why);
    if (fd_ < 0) {
      if (why.empty()) why = "无法打开锁文件 " + path + ".lock：" + std::strerror(errno) + "。";
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
        close(fd_);
        fd_ = -1;
        why = "Cookie 文件 " + path + " 正被本程序的另一个副本使用。";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

std::string DefaultCookieFilePath() {
  const std::string data = UserDataFolder();
  return data.empty() ? data : data + "/sorrel-resolver/cookies";
}

CookieJar::CookieJar(std::string path, bool quiet) : path_(std::move(path)), quiet_(quiet) {}

void CookieJar::Warn(const std::string& sentence) const {
  if (!quiet_) std::fprintf(stderr, "sorrel-resolver: %s\n", sentence.c_str());
}

void CookieJar::Freeze(const std::string& why) {
  Warn(why + kKeptInMemory);
  frozen_ = true;
}

CookieSet CookieJar::Load() {
  std::string why;
  if (!MakePrivateFolder(ParentFolder(path_), &why)) {
    Freeze(why);
    return {};
  }
  FileLock lock(path_, why);
  if (!lock.held()) {
    // Writing now could lose what another copy keeps there.
    Freeze(why);
    return {};
  }
  return ReadLocked().value_or(CookieSet{});
}

std::optional<CookieSet> CookieJar::Update(
    const std::function<CookieSet(const CookieSet& onDisk)>& merge) {
  if (frozen_) return std::nullopt;
  std::string why;
  if (!MakePrivateFolder(ParentFolder(path_), &why)) {
    Freeze(why);
    return std::nullopt;
  }
  FileLock lock(path_, why);
  if (!lock.held()) {
    Warn(why + "这次没有写入。");
    return std::nullopt;
  }
  const std::optional<CookieSet> onDisk = ReadLocked();
  if (!onDisk) return std::nullopt;
  CookieSet merged = merge(*onDisk);
  if (!WriteLocked(merged)) return std::nullopt;
  return merged;
}

// The file's cookies; nullopt when it is left alone for this run.
std::optional<CookieSet> CookieJar::ReadLocked() {
  if (frozen_) return std::nullopt;
  std::string why;
  const int fd = OpenPrivateFile(path_, O_RDONLY, &why);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return CookieSet{};
    // Not ours to judge: the file may be fine and the fault passing.
    Freeze(why.empty()
               ? "Cookie 文件 " + path_ + " 无法读取（" + std::strerror(error) + "），保持原样。"
               : why);
    return std::nullopt;
  }
  struct stat info {};
  bool tooLarge = fstat(fd, &info) == 0 && info.st_size > kMaxFileBytes;
  std::string text;
  int error = 0;
  char buffer[8192];
  while (!tooLarge) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    tooLarge = text.size() > static_cast<std::size_t>(kMaxFileBytes);
  }
  close(fd);
  if (error != 0) {
    Freeze("Cookie 文件 " + path_ + " 读取出错（" + std::strerror(error) + "），保持原样。");
    return std::nullopt;
  }
  if (tooLarge) {
    if (!SetAside("超过 16 MiB")) return std::nullopt;
    return CookieSet{};
  }
  if (std::optional<CookieSet> cookies = ParseCookieFile(text)) return cookies;
  if (!SetAside("不是 Cookie 文件")) return std::nullopt;
  return CookieSet{};
}

// Moves the file to the first free name of its set-aside copies, never
// over an earlier one.
bool CookieJar::SetAside(const char* reason) {
  std::string aside;
  int error = EEXIST;
  for (int n = 1; n <= kAsideNames && error == EEXIST; ++n) {
    aside = path_ + ".bad";
    if (n > 1) {
      aside += '.';
      aside += std::to_string(n);
    }
    error = renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0
                ? 0
                : errno;
    // A file system without that rename: a new link fails just the same.
    if (error == EINVAL || error == ENOSYS) {
      error = link(path_.c_str(), aside.c_str()) == 0 ? 0 : errno;
      if (error == 0 && unlink(path_.c_str()) != 0) {
        error = errno;
        unlink(aside.c_str());
      }
    }
  }
  if (error != 0) {
    Freeze("Cookie 文件 " + path_ + " " + reason + "，也无法改名（" + std::strerror(error) +
           "），保持原样。");
    return false;
  }
  Warn("Cookie 文件 " + path_ + " " + reason + "，已改名为 " + aside + "，Cookie 从头开始。");
  return true;
}

bool CookieJar::WriteLocked(const CookieSet& cookies) {
  const std::string temp = path_ + ".tmp";
  std::string why;
  const int fd = OpenPrivateFile(temp, O_WRONLY | O_CREAT | O_TRUNC, &why);
  bool ok = fd >= 0 && WriteAll(fd, FormatCookieFile(cookies)) && fsync(fd) == 0;
  if (fd >= 0) ok = close(fd) == 0 && ok;
  if (ok) {
    if (void (*hook)() = g_writeHook.load()) hook();
    ok = rename(temp.c_str(), path_.c_str()) == 0;
  }
  if (!ok) {
    const int error = errno;
    Warn(why.empty() ? "Cookie 文件 " + path_ + " 无法写入：" + std::strerror(error) + "。" : why);
    if (why.empty()) unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int folder = open(ParentFolder(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

void SetCookieWriteHookForTesting(void (*hook)()) { g_writeHook.store(hook); }

}  // namespace sorrel
