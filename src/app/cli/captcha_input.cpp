#include "app/cli/captcha_input.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace sorrel::cli {

namespace {

// A captcha narrower than this many columns is enlarged; its characters
// are only a few pixels high.
constexpr int kReadableColumns = 80;

// How long a program that has given its line (or run out of time) may take
// to end before it is stopped.
constexpr int kEndGraceMs = 200;

struct Rgb {
  int r, g, b;
};

// Transparent pixels show as white, as on the service's page.
Rgb PixelAt(const RasterImage& picture, int x, int y) {
  const std::uint8_t* p = picture.rgba.data() + (static_cast<size_t>(y) * picture.width + x) * 4;
  const int a = p[3];
  return {(p[0] * a + 255 * (255 - a)) / 255, (p[1] * a + 255 * (255 - a)) / 255,
          (p[2] * a + 255 * (255 - a)) / 255};
}

std::string Colour(const char* layer, const Rgb& c) {
  return std::string("\x1b[") + layer + ";2;" + std::to_string(c.r) + ";" + std::to_string(c.g) +
         ";" + std::to_string(c.b) + "m";
}

}  // namespace

std::string DrawPicture(const RasterImage& picture, int columns, bool colour) {
  if (picture.empty()) return {};
  columns = std::max(columns, 1);
  // Nearest-neighbour scaling by `scale` (enlarging) or to `columns`.
  int outWidth = picture.width;
  if (outWidth < kReadableColumns) {
    outWidth *= std::max(1, std::min((kReadableColumns + picture.width - 1) / picture.width,
                                     columns / picture.width));
  }
  outWidth = std::min(outWidth, columns);
  const int outHeight = std::max(
      1, static_cast<int>(static_cast<long long>(picture.height) * outWidth / picture.width));
  auto sample = [&](int x, int y) {
    return PixelAt(picture, static_cast<int>(static_cast<long long>(x) * picture.width / outWidth),
                   static_cast<int>(static_cast<long long>(y) * picture.height / outHeight));
  };

  std::string out;
  if (colour) {
    for (int y = 0; y < outHeight; y += 2) {
      for (int x = 0; x < outWidth; ++x) {
        const Rgb top = sample(x, y);
        const Rgb bottom = y + 1 < outHeight ? sample(x, y + 1) : Rgb{255, 255, 255};
        out += Colour("38", top) + Colour("48", bottom) + "\xE2\x96\x80";  // U+2580
      }
      out += "\x1b[0m\n";
    }
    return out;
  }
  // Dark and light split where the two groups of brightness differ most
  // (Otsu's threshold), so that light noise stays light; two pixel rows a
  // line, their mean brightness.
  auto brightness = [](const Rgb& c) { return (c.r * 299 + c.g * 587 + c.b * 114) / 1000; };
  std::vector<int> levels;
  long long histogram[256] = {};
  for (int y = 0; y < outHeight; y += 2) {
    for (int x = 0; x < outWidth; ++x) {
      const int top = brightness(sample(x, y));
      const int level = y + 1 < outHeight ? (top + brightness(sample(x, y + 1))) / 2 : top;
      levels.push_back(level);
      ++histogram[level];
    }
  }
  const double count = static_cast<double>(levels.size());
  double sumAll = 0;
  for (int i = 0; i < 256; ++i) sumAll += static_cast<double>(i) * histogram[i];
  double sumBelow = 0, countBelow = 0, bestSpread = -1;
  int threshold = 128;
  for (int t = 0; t < 256; ++t) {
    countBelow += histogram[t];
    sumBelow += static_cast<double>(t) * histogram[t];
    const double countAbove = count - countBelow;
    if (countBelow == 0 || countAbove == 0) continue;
    const double difference = sumBelow / countBelow - (sumAll - sumBelow) / countAbove;
    const double spread = countBelow * countAbove * difference * difference;
    if (spread > bestSpread) {
      bestSpread = spread;
      threshold = t;
    }
  }
  size_t at = 0;
  for (int y = 0; y < outHeight; y += 2) {
    for (int x = 0; x < outWidth; ++x) out += levels[at++] <= threshold ? '#' : ' ';
    out += '\n';
  }
  return out;
}

ProgramAnswer AskCaptchaProgram(const std::string& program, const std::string& picturePath,
                                std::chrono::milliseconds limit) {
  ProgramAnswer answer;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    answer.error = "无法运行验证码程序 " + program + "：" + std::strerror(errno);
    return answer;
  }
  // The child reports a failed exec through this pipe, closed by a
  // successful one.
  int execFds[2];
  if (pipe2(execFds, O_CLOEXEC) != 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    answer.error = "无法运行验证码程序 " + program + "：" + std::strerror(errno);
    return answer;
  }
  std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                             const_cast<char*>(picturePath.c_str()), nullptr};
  // vfork rather than fork: the child only sets itself up and calls execvp
  // (which keeps its search of PATH and its shell for a script without
  // "#!"), so this process's memory need not be copied for it. This thread
  // resumes once the child has started the program or given up.
  const pid_t child = vfork();
  if (child == 0) {
    // Its own process group, so that a stopped program takes its children
    // with it.
    setpgid(0, 0);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    dup2(pipeFds[1], STDOUT_FILENO);
    execvp(argv[0], argv.data());
    const int error = errno;
    (void)!write(execFds[1], &error, sizeof error);
    _exit(127);
  }
  close(pipeFds[1]);
  close(execFds[1]);
  if (child < 0) {
    close(pipeFds[0]);
    close(execFds[0]);
    answer.error = "无法运行验证码程序 " + program + "：" + std::strerror(errno);
    return answer;
  }
  int execError = 0;
  const bool execFailed = read(execFds[0], &execError, sizeof execError) == sizeof execError;
  close(execFds[0]);

  std::string output;
  bool timedOut = false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!execFailed) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{pipeFds[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[512];
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
    if (output.find('\n') != std::string::npos) break;
    // A code is short; a program that writes on and on gives none.
    if (output.size() > 4096) break;
  }
  close(pipeFds[0]);

  // Once the line is read, or the time is up, the program has no more to
  // give: it gets a moment to end on its own, then it is stopped.
  int status = 0;
  bool ended = waitpid(child, &status, WNOHANG) == child;
  if (!ended) {
    // A process descriptor becomes readable when the program ends.
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    if (pidFd >= 0) {
      pollfd p{pidFd, POLLIN, 0};
      while (poll(&p, 1, kEndGraceMs) < 0 && errno == EINTR) {
      }
      close(pidFd);
    } else {
      usleep(kEndGraceMs * 1000);
    }
    ended = waitpid(child, &status, WNOHANG) == child;
  }
  if (!ended) {
    kill(-child, SIGKILL);
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }

  if (execFailed) {
    answer.error = "无法运行验证码程序 " + program + "：" + std::strerror(execError);
    return answer;
  }
  if (timedOut) {
    answer.error = "验证码程序 " + program + " 在 " + std::to_string(limit.count() / 1000) +
                   " 秒内没有给出验证码";
    return answer;
  }
  std::string line = output.substr(0, output.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t first = line.find_first_not_of(" \t");
  line = first == std::string::npos ? std::string()
                                    : line.substr(first, line.find_last_not_of(" \t") - first + 1);
  if (line.empty()) {
    answer.error = "验证码程序 " + program + " 没有输出验证码";
    return answer;
  }
  answer.code = line;
  return answer;
}

std::optional<std::string> ReadLineFrom(int fd) {
  std::string line;
  char c = 0;
  bool any = false;
  for (;;) {
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace sorrel::cli
