// The figures of the cookie store under a flood: a page request whose
// answer sets 1,000 lasting cookies against the same request setting none,
// each the first exchange after the program's start with a cookie file; and
// the reading of a cookie file of 10,000 cookies at the start.
//
//   bench_cookies
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "figures.h"
#include "http/cookie_store.h"
#include "http/http_stack_curl.h"
#include "http/web_access.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/loopback_server.h"

namespace sorrel::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
constexpr Goal kMoreGoal{"≤ 50 ms"}, kLoadGoal{"≤ 50 ms"};
constexpr int kRounds = 30;
constexpr int kFlood = 1000;
constexpr int kFileCookies = 10000;

fs::path FreshDir(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / ("sorrel-bench-cookies-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// One page request to `url`, timed in a fresh process whose stack keeps
// its cookies in `file`, after one request that sets none; milliseconds.
double FirstExchangeMs(const std::string& warm, const std::string& url, const fs::path& file) {
  int report[2];
  if (pipe(report) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    CurlStackOptions options;
    options.cookieFile = file.string();
    auto* stack = new CurlHttpStack(options);
    test::CountingPump pump;
    test::RecordingWindows windows;
    WebClient client(*stack, pump, windows);
    Text warmUrl = warm;
    client.WebAccess(warmUrl);
    Text timedUrl = url;
    const auto start = Clock::now();
    const bool ok = !client.WebAccess(timedUrl).empty();
    const double ms = ok ? Ms(Clock::now() - start).count() : -1;
    (void)!write(report[1], &ms, sizeof ms);
    // Without the write at the end of the run, which is no part of it.
    _exit(0);
  }
  close(report[1]);
  double ms = -1;
  if (read(report[0], &ms, sizeof ms) != sizeof ms) ms = -1;
  close(report[0]);
  waitpid(child, nullptr, 0);
  return ms;
}

void ExchangeFigure() {
  std::string lines;
  for (int i = 0; i < kFlood; ++i) {
    lines += "Set-Cookie: flood" + std::to_string(i) + "=" + std::string(16, 'v') +
             "; Max-Age=86400; path=/\r\n";
  }
  const std::string flood = test::HttpResponse("page", lines);
  const std::string none = test::HttpResponse("page");
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    c.Write(request.rfind("GET /flood ", 0) == 0 ? flood : none);
  });
  const std::string base = "http://" + server.authority();
  const fs::path dir = FreshDir("exchange");
  std::vector<double> flooded, plain;
  for (int round = 0; round < kRounds; ++round) {
    // Each with a cookie file of its own, in turns of which goes first.
    for (int turn = 0; turn < 2; ++turn) {
      const bool flooding = (round + turn) % 2 == 0;
      const fs::path file = dir / (std::to_string(round) + (flooding ? "-flood" : "-none"));
      const double ms =
          FirstExchangeMs(base + "/warm", base + (flooding ? "/flood" : "/none"), file / "cookies");
      if (ms >= 0) (flooding ? flooded : plain).push_back(ms);
    }
  }
  fs::remove_all(dir);
  const double more = Median(flooded) - Median(plain);
  Row("10. Cookies, a page request whose answer sets 1,000 lasting cookies",
      Fixed(Median(flooded)) + " ms (median of " + std::to_string(flooded.size()) + ")",
      Fixed(Median(plain)) + " ms (the same request, no cookies)", Fixed(more) + " ms more",
      kMoreGoal, more);
}

// Reads `file` into fresh stores, `kRounds` times; the median in ms.
double LoadMs(const fs::path& file) {
  std::vector<double> times;
  for (int round = 0; round < kRounds; ++round) {
    auto* store = new CookieStore();
    const auto start = Clock::now();
    store->KeepLastingCookiesIn(file.string(), true);
    times.push_back(Ms(Clock::now() - start).count());
    delete store;
  }
  return Median(times);
}

void LoadFigures() {
  const fs::path dir = FreshDir("load");
  const struct {
    const char* what;
    int domains;
  } files[] = {{"one host", 1}, {"500 domains", 500}};
  for (const auto& f : files) {
    const fs::path file = dir / std::to_string(f.domains) / "cookies";
    fs::create_directories(file.parent_path());
    std::ofstream out(file);
    out << "# Netscape HTTP Cookie File\n";
    for (int i = 0; i < kFileCookies; ++i) {
      out << "d" << i % f.domains << ".example.com\tFALSE\t/\tFALSE\t4102444800\tc" << i << "\t"
          << std::string(24, 'v') << "\n";
    }
    out.close();
    const double ms = LoadMs(file);
    Row(std::string("10. Cookies, reading a cookie file of 10,000 cookies (") + f.what + ")",
        Fixed(ms) + " ms (median of " + std::to_string(kRounds) + ")", "—", Fixed(ms) + " ms",
        kLoadGoal, ms);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sorrel::bench

int main() {
  sorrel::bench::ExchangeFigure();
  sorrel::bench::LoadFigures();
  return 0;
}
