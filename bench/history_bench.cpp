// Figure 11: the history and the splitting of pasted text, on files and
// texts built here. The calling thread's CPU time (its reads from the file
// included), median of the runs, so that other work on a shared machine does
// not count.
// Prints one table row per figure.
// Usage: bench_history
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/address_split.h"
#include "app/history.h"
#include "app/history_file.h"
#include "bench/figures.h"
#include "resolve/link_codec.h"

namespace sorrel::bench {
namespace {

namespace fs = std::filesystem;
constexpr const char* kOrigin = "http://127.0.0.1:8017";
// The command line's Base64 engine.
const OpenSslBase64 kBase64;

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

template <typename F>
double MedianMs(int runs, F&& run) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double start = CpuMs();
    run();
    times.push_back(CpuMs() - start);
  }
  return Median(times);
}

// A resolution as the demo service gives it: a page, a name in Chinese,
// the three addresses with the service's token, checked and downloaded.
HistoryEntry RealisticEntry(int i) {
  HistoryEntry entry;
  const std::string n = std::to_string(83264445 + i);
  entry.page = std::string(kOrigin) + "/file/" + n;
  entry.name = "Sorrel网盘样本数据 第" + std::to_string(i) + "卷.zip";
  entry.size = 734003200 + i;
  entry.normal = std::string(kOrigin) + "/dl/" + n + "/3f9a1c0e7b2d4e6f8a0b1c2d3e4f5a6b/" +
                 "Sorrel%E7%BD%91%E7%9B%98%E6%A0%B7%E6%9C%AC%E6%95%B0%E6%8D%AE.zip?t=1765297925";
  entry.thunder = EncodeThunder(kBase64, entry.normal);
  entry.flashget = EncodeFlashGet(kBase64, entry.normal);
  entry.check = "ok";
  entry.download = {std::string(kOwnEngine), "2089b05ecca3d829", "complete"};
  return entry;
}

// About 1 MiB of forum posts: Chinese text, full-width punctuation, other
// sites' addresses, and a file page and a wrapped link in every post.
std::string ForumText() {
  std::string text;
  for (int i = 0; text.size() < (1 << 20); ++i) {
    const std::string n = std::to_string(10000000 + i);
    text += "【第" + std::to_string(i) + "楼】楼主好人，分享一下资源：" + std::string(kOrigin) +
            "/file/" + n + "，提取码在下面。顺便附上迅雷链接：" +
            EncodeThunder(kBase64, "http://dl.example/" + n + "/样本.zip") +
            "。\n别的网站的 http://other.example/thread-" + n +
            ".html 已经失效了（请勿回复）。谢谢分享！！！\n\n";
  }
  return text;
}

// About 1 MiB of nothing but addresses, one a line, half of them links.
std::string DenseText() {
  std::string text;
  for (int i = 0; text.size() < (1 << 20); ++i) {
    const std::string n = std::to_string(10000000 + i);
    text += i % 2 ? std::string(kOrigin) + "/file/" + n
                  : EncodeThunder(kBase64, "http://dl.example/" + n + ".zip");
    text += "\n";
  }
  return text;
}

void SplitFigure(const char* what, const std::string& text) {
  std::size_t found = 0;
  const double ms = MedianMs(15, [&] { found = SplitAddresses(kBase64, text, kOrigin).size(); });
  const Goal goal{"≤ 20 ms"};
  Row("11. Splitting a pasted text of " + std::to_string(text.size() / 1024) + " KiB, " + what +
          " (" + std::to_string(found) + " addresses)",
      Fixed(ms) + " ms CPU (median of 15)", "—", Fixed(ms) + " ms", goal, ms);
}

}  // namespace
}  // namespace sorrel::bench

int main() {
  using namespace sorrel;
  using namespace sorrel::bench;
  SplitFigure("forum posts", ForumText());
  SplitFigure("addresses only", DenseText());

  const fs::path dir = fs::temp_directory_path() / "sorrel_bench_history";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = (dir / "history").string();
  {
    std::string text;
    for (int i = 0; i < static_cast<int>(kHistoryCap); ++i) {
      HistoryEntry entry = RealisticEntry(i);
      entry.id = std::to_string(1000000000000000 + i);
      entry.time = 1765297925 + i;
      text += HistoryEntryLine(kBase64, entry) + "\n";
    }
    HistoryFile file(path);
    std::string error;
    if (!file.Open(error) || !file.Replace(text, error)) {
      std::fprintf(stderr, "bench_history: %s\n", error.c_str());
      return 1;
    }
  }
  const std::uintmax_t bytes = fs::file_size(path);

  std::size_t entries = 0;
  const double readMs = MedianMs(10, [&] {
    HistoryContents contents;
    History(kBase64, path).Read(contents);
    entries = contents.entries.size();
  });
  Row("11. History read, " + std::to_string(entries) + " entries (" + std::to_string(bytes / 1024) +
          " KiB file)",
      Fixed(readMs) + " ms CPU (median of 10)", "—", Fixed(readMs) + " ms", Goal{"≤ 100 ms"},
      readMs);

  // A start builds the store and reads nothing.
  const double startMs = MedianMs(100, [&] {
    const std::string where = DefaultHistoryPath();
    History history(kBase64, where.empty() ? where : path);
    (void)history.path();
  });
  Row("11. History's added start-up cost (the store made, nothing read; 10,000 entries on disk)",
      Fixed(startMs, 4) + " ms CPU (median of 100)", "—", Fixed(startMs, 4) + " ms", Goal{"≤ 2 ms"},
      startMs);

  // What a resolution adds: one entry and its change, on a full file.
  History history(kBase64, path);
  const double addMs = MedianMs(20, [&] {
    const std::string id = history.Add(RealisticEntry(99));
    HistoryChange change;
    change.check = "ok";
    history.Change(id, change);
  });
  Row("11. History entry and its change appended to a full history",
      Fixed(addMs) + " ms CPU (median of 20)", "—", Fixed(addMs) + " ms", "— (shown for reference)",
      true);
  fs::remove_all(dir);
  return 0;
}
