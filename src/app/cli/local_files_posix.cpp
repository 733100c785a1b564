#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/cli/local_files.h"

namespace sorrel::cli {

// File names are bytes here, taken and given as they are.
std::filesystem::path LocalPath(const std::string& utf8) { return utf8; }

std::string Utf8Path(const std::filesystem::path& path) { return path.string(); }

int FolderProblem(std::string dir) {
  for (;;) {
    struct stat info {};
    if (stat(dir.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) return ENOTDIR;
      return access(dir.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
    }
    if (errno != ENOENT) return errno;
    const std::size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0) return 0;
    dir.resize(slash);
  }
}

bool ReadStart(const std::string& path, std::size_t limit, std::string& text, int& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  char buffer[4096];
  ssize_t n = 0;
  while (text.find('\n') == std::string::npos && text.size() < limit &&
         ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))) {
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
  }
  error = n < 0 ? errno : 0;
  close(fd);
  return error == 0;
}

}  // namespace sorrel::cli
