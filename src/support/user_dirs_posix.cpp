#include "support/user_dirs_posix.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sorrel {

namespace {

std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string UnderHome(const char* name, const char* below) {
  std::string folder = AbsoluteVariable(name);
  if (!folder.empty()) return folder;
  const std::string home = HomeFolder();
  return home.empty() ? home : home + below;
}

void Say(std::string* why, const std::string& sentence) {
  if (why != nullptr) *why = sentence;
}

// Why a folder or file found with lstat cannot be the tool's own; "" when
// it can. `what` names it in the sentence ("文件夹" or "文件").
std::string Refusal(const std::string& path, const struct stat& info, bool folder) {
  const std::string what = folder ? "文件夹" : "文件";
  if (S_ISLNK(info.st_mode)) return what + " " + path + " 是符号链接，本工具不经符号链接保存文件。";
  if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
    return path + (folder ? " 不是文件夹。" : " 不是普通文件。");
  }
  if (info.st_uid != geteuid()) return what + " " + path + " 属于另一个用户，本工具不使用它。";
  return {};
}

}  // namespace

std::string HomeFolder() {
  std::string home = AbsoluteVariable("HOME");
  if (!home.empty()) return home;
  const passwd* user = getpwuid(geteuid());
  return user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/' ? user->pw_dir : "";
}

std::string UserDataFolder() { return UnderHome("XDG_DATA_HOME", "/.local/share"); }

std::string UserConfigFolder() { return UnderHome("XDG_CONFIG_HOME", "/.config"); }

std::string UserRuntimeFolder(std::string* why) {
  const std::string runtime = AbsoluteVariable("XDG_RUNTIME_DIR");
  struct stat info {};
  if (!runtime.empty() && lstat(runtime.c_str(), &info) == 0 &&
      Refusal(runtime, info, true).empty() && (info.st_mode & 077) == 0) {
    return runtime;
  }
  std::string base = AbsoluteVariable("TMPDIR");
  if (base.empty()) base = "/tmp";
  const std::string folder = base + "/sorrel-resolver-" + std::to_string(geteuid());
  return MakePrivateFolder(folder, why) ? folder : std::string();
}

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool MakePrivateFolder(const std::string& folder, std::string* why) {
  if (folder.empty() || folder.front() != '/') {
    Say(why, "没有可用的文件夹（找不到用户的主文件夹）。");
    return false;
  }
  // XDG: a missing folder on the way is made 0700 too.
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    mkdir(folder.substr(0, slash).c_str(), 0700);
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    Say(why, "无法创建文件夹 " + folder + "：" + std::strerror(error) + "。");
    return false;
  }
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    const int error = errno;
    Say(why, "无法使用文件夹 " + folder + "：" + std::strerror(error) + "。");
    return false;
  }
  if (std::string refusal = Refusal(folder, info, true); !refusal.empty()) {
    Say(why, refusal);
    return false;
  }
  // It holds the user's sessions: private even when it was made by hand.
  if ((info.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) {
    const int error = errno;
    Say(why, "无法把文件夹 " + folder + " 设为仅本人可用：" + std::strerror(error) + "。");
    return false;
  }
  return true;
}

int OpenPrivateFile(const std::string& path, int flags, std::string* why) {
  const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    struct stat info {};
    if (error == ELOOP && lstat(path.c_str(), &info) == 0) Say(why, Refusal(path, info, false));
    errno = error;
    return -1;
  }
  struct stat info {};
  std::string refusal =
      fstat(fd, &info) != 0 ? path + " 无法读取其属性。" : Refusal(path, info, false);
  if (refusal.empty() && (info.st_mode & 077) != 0 && fchmod(fd, 0600) != 0) {
    refusal = "无法把文件 " + path + " 设为仅本人可读写。";
  }
  if (!refusal.empty()) {
    close(fd);
    Say(why, refusal);
    errno = EPERM;
    return -1;
  }
  return fd;
}

}  // namespace sorrel
