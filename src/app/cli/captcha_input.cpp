#include "app/cli/captcha_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "app/cli/interrupt.h"
#include "support/child_process.h"

namespace sorrel::cli {

namespace {

// A captcha narrower than this many columns is enlarged; its characters
// are only a few pixels high.
constexpr int kReadableColumns = 80;

// How long a program that has given its line (or run out of time) may take
// to end before it is stopped.
constexpr std::chrono::milliseconds kEndGrace{200};
constexpr std::size_t kLongestOutput = 4096;

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
  ChildLaunch launch{{program, picturePath}, ChildStream::kPipe};
  // Its own process group, so that a stopped program takes its children
  // with it; and ended with this process, however that ends (on Windows
  // every child is, through the job it runs in).
  launch.ownGroup = true;
#ifdef SIGKILL
  launch.parentDeathSignal = SIGKILL;
#endif
  int error = 0;
  std::unique_ptr<ChildProcess> child;
  {
    InterruptsHeld held;
    child = ChildProcess::Start(launch, error);
    if (child) NoteRunningProgram(child->Id());
  }
  if (!child) {
    answer.error = "无法运行验证码程序 " + program + "：" + std::strerror(error);
    return answer;
  }
  // A code is short; a program that writes on and on gives none.
  std::optional<std::string> line =
      child->ReadLine(ChildProcess::Clock::now() + limit, kLongestOutput);
  // Once the line is read, or the time is up, the program has no more to
  // give: it gets a moment to end on its own, then it is stopped.
  child->Stop(kEndGrace, 0);
  NoteRunningProgram(0);
  if (!line) {
    answer.error = "验证码程序 " + program + " 在 " + std::to_string(limit.count() / 1000) +
                   " 秒内没有给出验证码";
    return answer;
  }
  const size_t first = line->find_first_not_of(" \t");
  if (first == std::string::npos) {
    answer.error = "验证码程序 " + program + " 没有输出验证码";
    return answer;
  }
  answer.code = line->substr(first, line->find_last_not_of(" \t") - first + 1);
  return answer;
}

}  // namespace sorrel::cli
