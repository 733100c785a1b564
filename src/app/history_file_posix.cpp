#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/history_file.h"
#include "support/user_dirs_posix.h"
#include "support/write_all_posix.h"

namespace sorrel {

namespace {

std::atomic<void (*)()> g_replaceHook{nullptr};

// Another copy holds the lock only while it appends a line or rewrites a
// few megabytes.
constexpr auto kLockPatience = std::chrono::seconds(10);
// Far more than 10,000 entries take; a bigger file is not ours.
constexpr off_t kMostBytes = 256 << 20;
constexpr std::size_t kNoteBytes = 64;

// Why a file could not be used: the user's folders' own sentence when they
// gave one, else the system's.
std::string Failure(const char* what, const std::string& path, const std::string& why = {}) {
  if (!why.empty()) return why;
  const int number = errno;
  std::string text = what;
  text.append(" ").append(path).append("：").append(std::strerror(number));
  return text;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::string DefaultHistoryPath() {
  const std::string data = UserDataFolder();
  return data.empty() ? data : data + "/sorrel-resolver/history";
}

HistoryFile::HistoryFile(std::string path) : path_(std::move(path)) {}

HistoryFile::~HistoryFile() {
  if (lock_ >= 0) close(static_cast<int>(lock_));
}

bool HistoryFile::Exists() const {
  struct stat info {};
  return lstat(path_.c_str(), &info) == 0;
}

bool HistoryFile::Open(std::string& error) {
  // What was resolved is the user's business alone.
  std::string why;
  if (!MakePrivateFolder(ParentFolder(path_), &why)) {
    error = why;
    return false;
  }
  const std::string lockPath = path_ + ".lock";
  const int fd = OpenPrivateFile(lockPath, O_RDWR | O_CREAT, &why);
  if (fd < 0) {
    error = Failure("无法打开历史记录的锁文件", lockPath, why);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
      error = "历史记录 " + path_ + " 正被另一个程序占用。";
      close(fd);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  lock_ = fd;
  return true;
}

bool HistoryFile::Read(std::string& text, std::string& error) {
  text.clear();
  std::string why;
  Descriptor fd(OpenPrivateFile(path_, O_RDONLY, &why));
  if (fd.get() < 0) {
    if (errno == ENOENT) return true;
    error = Failure("无法读取历史记录", path_, why);
    return false;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMostBytes) {
    error = "历史记录 " + path_ + " 不是本工具的文件。";
    return false;
  }
  text.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = read(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Failure("无法读取历史记录", path_);
      return false;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return true;
}

bool HistoryFile::Append(std::string_view lines, std::uint64_t& before, std::uint64_t& after,
                         std::string& error) {
  std::string why;
  Descriptor fd(OpenPrivateFile(path_, O_RDWR | O_APPEND | O_CREAT, &why));
  struct stat info {};
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) {
    error = Failure("无法写入历史记录", path_, why);
    return false;
  }
  char last = '\n';
  if (info.st_size > 0 && pread(fd.get(), &last, 1, info.st_size - 1) != 1) last = '\n';
  std::string text(last == '\n' ? 0 : 1, '\n');
  text.append(lines);
  if (!WriteAll(fd.get(), text) || !fd.Close()) {
    error = Failure("无法写入历史记录", path_);
    return false;
  }
  before = static_cast<std::uint64_t>(info.st_size);
  after = before + text.size();
  return true;
}

bool HistoryFile::Replace(std::string_view text, std::string& error) {
  const std::string temp = path_ + ".tmp";
  std::string why;
  Descriptor fd(OpenPrivateFile(temp, O_WRONLY | O_CREAT | O_TRUNC, &why));
  bool ok = fd.get() >= 0 && WriteAll(fd.get(), text) && fsync(fd.get()) == 0;
  if (fd.get() >= 0) ok = fd.Close() && ok;
  if (void (*hook)() = g_replaceHook.load(); ok && hook) hook();
  if (!ok || rename(temp.c_str(), path_.c_str()) != 0) {
    error = Failure("无法写入历史记录", path_, why);
    unlink(temp.c_str());
    return false;
  }
  // The rename reaches the disk with its folder.
  Descriptor folder(open(ParentFolder(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) fsync(folder.get());
  return true;
}

std::string HistoryFile::Note() {
  char buffer[kNoteBytes];
  const ssize_t n = lock_ >= 0 ? pread(static_cast<int>(lock_), buffer, sizeof buffer, 0) : -1;
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

void HistoryFile::SetNote(std::string_view note) {
  // Always the same length, so that no truncation is needed.
  std::string text(note.substr(0, kNoteBytes));
  text.resize(kNoteBytes, ' ');
  if (lock_ >= 0) (void)!pwrite(static_cast<int>(lock_), text.data(), text.size(), 0);
}

void SetHistoryReplaceHookForTesting(void (*hook)()) { g_replaceHook.store(hook); }

}  // namespace sorrel
