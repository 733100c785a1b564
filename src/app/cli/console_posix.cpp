#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/cli/console.h"
#include "support/write_all_posix.h"

namespace sorrel::cli {

namespace {

int Descriptor(Stream stream) { return stream == Stream::kOut ? STDOUT_FILENO : STDERR_FILENO; }

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

}  // namespace

bool Write(Stream stream, std::string_view text) { return WriteAll(Descriptor(stream), text); }

bool IsTerminal(Stream stream) { return isatty(Descriptor(stream)); }

std::optional<std::string> ReadInputLine() { return ReadLineFrom(STDIN_FILENO); }

Console Console::Find(bool stdinTaken) {
  Console console;
  const bool errorIsTerminal = isatty(STDERR_FILENO);
  int tty = -1;
  if (!stdinTaken && isatty(STDIN_FILENO)) {
    console.in_ = STDIN_FILENO;
  } else if (errorIsTerminal) {
    tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    console.in_ = tty;
    console.ownsIn_ = tty >= 0;
  }
  if (console.in_ < 0) return console;
  if (errorIsTerminal) {
    console.out_ = STDERR_FILENO;
  } else if (tty >= 0) {
    console.out_ = tty;
  } else {
    console.out_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    console.ownsOut_ = console.out_ >= 0;
  }
  if (console.out_ < 0) return console;
  console.present_ = true;
  console.drawsPictures_ = true;
  const char* term = std::getenv("TERM");
  console.colour_ = !(term && std::string(term) == "dumb");
  winsize size{};
  if (ioctl(static_cast<int>(console.out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    console.columns_ = size.ws_col;
  }
  return console;
}

Console::Console(Console&& other) noexcept
    : present_(other.present_),
      drawsPictures_(other.drawsPictures_),
      colour_(other.colour_),
      columns_(other.columns_),
      in_(other.in_),
      out_(other.out_),
      ownsIn_(other.ownsIn_),
      ownsOut_(other.ownsOut_) {
  other.ownsIn_ = other.ownsOut_ = false;
}

Console::~Console() {
  if (ownsIn_) close(static_cast<int>(in_));
  if (ownsOut_) close(static_cast<int>(out_));
}

bool Console::Write(std::string_view text) const {
  return present_ && WriteAll(static_cast<int>(out_), text);
}

std::optional<std::string> Console::ReadLine() const {
  if (!present_) return std::nullopt;
  return ReadLineFrom(static_cast<int>(in_));
}

std::string MakePrivateFolder() {
  // The user's runtime folder when there is one: the system empties it when
  // the user logs out.
  const char* base = std::getenv("XDG_RUNTIME_DIR");
  if (!base || base[0] != '/') base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base && base[0] == '/' ? base : "/tmp") + "/sorrel-resolve.XXXXXX";
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

std::string FileIn(const std::string& folder, std::string_view name) {
  return folder + "/" + std::string(name);
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace sorrel::cli
