// Figure 5: the workflow's field harvest over pages of about 1 MiB, through
// the platform's regular-expression engine: the calling thread's CPU time
// (on Linux, so that other work on a shared machine does not count), median
// of the runs.
// Prints one table row per page and one note.
// Usage: bench_harvest_figures LABEL
#ifndef _WIN32
#include <time.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/pages.h"
#include "resolve/field_harvest.h"
#include "test_helpers/platform_engines.h"

namespace sorrel::bench {
namespace {

// Under wine the thread's CPU times advance in coarse steps, so the Windows
// build takes the time that passed.
#ifdef _WIN32
constexpr const char* kClock = "ms";
double ClockMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
#else
constexpr const char* kClock = "ms CPU";
double ClockMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
#endif

std::size_t HarvestOnce(const Text& page, double& ms) {
  const auto regex = test::PlatformRegexObject();
  const double start = ClockMs();
  const std::size_t fields = HarvestFormFields(*regex, page, NoEventPump()).size();
  ms = ClockMs() - start;
  return fields;
}

}  // namespace
}  // namespace sorrel::bench

int main(int argc, char** argv) {
  using namespace sorrel::bench;
  const std::string label = argc > 1 ? argv[1] : "this build";
#ifdef _WIN32
  // The Windows engine is far slower; the goal there is the window's.
  const int runs = 5;
  const double realisticGoal = 250, hostileGoal = 250;
#else
  const int runs = 30;
  const double realisticGoal = 2, hostileGoal = 100;
#endif
  double firstMs = 0;
  HarvestOnce(RealisticPage(), firstMs);
  struct Figure {
    const char* what;
    sorrel::Text page;
    double goal;
  };
  const std::vector<Figure> figures = {
      {"realistic file page", RealisticPage(), realisticGoal},
      {"hostile single line", HostileLine(), hostileGoal},
      {"hostile line before the form", HostileLine() + "\n" + FormLines(), hostileGoal},
      {"page that spends the whole budget", BudgetSpendingPage(), hostileGoal},
  };
  for (const Figure& f : figures) {
    std::vector<double> times;
    std::size_t fields = 0;
    for (int i = 0; i < runs; ++i) {
      double ms = 0;
      fields = HarvestOnce(f.page, ms);
      times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    const double m = times[times.size() / 2];
    std::printf(
        "| 5. Field harvest, %s, %s (%zu KiB, %zu fields) | %.2f %s (median of %d) | — "
        "| %.2f ms | ≤ %.0f ms | %s |\n",
        label.c_str(), f.what, f.page.size() / 1024, fields, m, kClock, runs, m, f.goal,
        m <= f.goal ? "met" : "**missed**");
  }
  std::printf(
      "The first harvest of the process (%s; it also builds the code page table) took "
      "%.2f %s.\n",
      label.c_str(), firstMs, kClock);
  return 0;
}
