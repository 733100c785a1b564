#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "http/cookie_jar.h"
#include "support/write_all_posix.h"

namespace sorrel {

namespace {

// Far more than any cookie file; a bigger one is not ours.
constexpr off_t kMaxFileBytes = 16 << 20;
// Another copy holds the lock only while it writes a few kilobytes.
constexpr auto kLockPatience = std::chrono::seconds(10);

std::atomic<void (*)()> g_writeHook{nullptr};

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the folder and the missing ones above it, private to the user, as
// the XDG base directories are to be made.
bool MakeFolders(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (folder != "/" && folder != "." && !MakeFolders(Folder(folder))) return false;
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

enum class ReadResult { kRead, kMissing, kBad };

ReadResult ReadFile(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kBad;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes;
  char buffer[8192];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    ok = text.size() <= static_cast<std::size_t>(kMaxFileBytes);
  }
  close(fd);
  return ok ? ReadResult::kRead : ReadResult::kBad;
}

// Holds the lock file beside the cookie file for one read-merge-write.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
        close(fd_);
        fd_ = -1;
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
  std::string base;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      const passwd* user = getpwuid(getuid());
      home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') return "";
    base = std::string(home) + "/.local/share";
  }
  return base + "/sorrel-resolver/cookies";
}

CookieJar::CookieJar(std::string path) : path_(std::move(path)) {}

CookieSet CookieJar::Load() {
  if (!MakeFolders(Folder(path_))) return {};
  FileLock lock(path_);
  if (!lock.held()) {
    std::fprintf(stderr, "sorrel-resolver: the cookie file %s is locked; it was not read.\n",
                 path_.c_str());
    // Writing now could lose what another copy keeps there.
    frozen_ = true;
    return {};
  }
  return ReadLocked().value_or(CookieSet{});
}

std::optional<CookieSet> CookieJar::Update(
    const std::function<CookieSet(const CookieSet& onDisk)>& merge) {
  if (frozen_ || !MakeFolders(Folder(path_))) return std::nullopt;
  // The folder holds the user's sessions: keep it private even when it was
  // made by hand.
  chmod(Folder(path_).c_str(), 0700);
  FileLock lock(path_);
  if (!lock.held()) {
    std::fprintf(stderr, "sorrel-resolver: the cookie file %s is locked; it was not written.\n",
                 path_.c_str());
    return std::nullopt;
  }
  const std::optional<CookieSet> onDisk = ReadLocked();
  if (!onDisk) return std::nullopt;
  CookieSet merged = merge(*onDisk);
  if (!WriteLocked(merged)) return std::nullopt;
  return merged;
}

// The file's cookies; nullopt when it is bad and could not be set aside.
std::optional<CookieSet> CookieJar::ReadLocked() {
  if (frozen_) return std::nullopt;
  std::string text;
  const ReadResult result = ReadFile(path_, text);
  if (result == ReadResult::kMissing) return CookieSet{};
  if (result == ReadResult::kRead) {
    if (std::optional<CookieSet> cookies = ParseCookieFile(text)) return cookies;
  }
  const std::string aside = path_ + ".bad";
  if (rename(path_.c_str(), aside.c_str()) != 0) {
    const int error = errno;
    std::fprintf(
        stderr,
        "sorrel-resolver: the cookie file %s cannot be read and cannot be moved aside (%s); "
        "cookies are kept for this run only.\n",
        path_.c_str(), std::strerror(error));
    frozen_ = true;
    return std::nullopt;
  }
  std::fprintf(stderr,
               "sorrel-resolver: the cookie file %s cannot be read; it was moved to %s and "
               "cookies start afresh.\n",
               path_.c_str(), aside.c_str());
  return CookieSet{};
}

bool CookieJar::WriteLocked(const CookieSet& cookies) {
  const std::string temp = path_ + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  bool ok =
      fd >= 0 && fchmod(fd, 0600) == 0 && WriteAll(fd, FormatCookieFile(cookies)) && fsync(fd) == 0;
  if (fd >= 0) ok = close(fd) == 0 && ok;
  if (ok) {
    if (void (*hook)() = g_writeHook.load()) hook();
    ok = rename(temp.c_str(), path_.c_str()) == 0;
  }
  if (!ok) {
    const int error = errno;
    std::fprintf(stderr, "sorrel-resolver: the cookie file %s could not be written: %s\n",
                 path_.c_str(), std::strerror(error));
    unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int folder = open(Folder(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

void SetCookieWriteHookForTesting(void (*hook)()) { g_writeHook.store(hook); }

}  // namespace sorrel
