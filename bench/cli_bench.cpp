// The command line's figures: sorrel-resolve resolving one address with a
// captcha program against a plain libcurl client making the same exchanges
// (bench_cli_plain), and its peak resident memory against curl fetching the
// same page. Processes are timed from fork to their end; the peak resident
// set comes from wait4. Prints rows of docs/benchmarks.md.
// Usage: bench_cli SORREL_RESOLVE BENCH_CLI_PLAIN BENCH_CLI_ASK CURL
#include <cstdio>
#include <string>
#include <vector>

#include "figures.h"
#include "test_helpers/sim_process.h"

namespace {

using sorrel::bench::Child;
using sorrel::bench::Goal;
using sorrel::bench::Median;
using sorrel::bench::RunChild;

constexpr int kRounds = 40;
constexpr Goal kMemoryGoal{"≤ 2.0"}, kResolutionGoal{"≤ 1.05"};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string resolve = argv[1], plain = argv[2], ask = argv[3], curl = argv[4];
  for (int delay : {0, 20}) {
    sorrel::test::SimProcess sim({"--test-mode", "--fault", "delay:" + std::to_string(delay)});
    if (!sim.ok()) {
      std::fprintf(stderr, "bench_cli: %s\n", sim.error().c_str());
      return 1;
    }
    const std::string origin = sim.url("");
    const std::string page = sim.url("/file/83264445");
    const std::vector<std::string> env = {"SIM_PORT=" + std::to_string(sim.port()),
                                          "SORREL_SERVICE_ORIGIN=" + origin};
    const std::vector<std::string> tool = {resolve, "--json", "--captcha-program", ask, page};
    const std::vector<std::string> reference = {plain, origin, page};
    const std::vector<std::string> fetch = {curl, "-s", "-o", "/dev/null", page};
    RunChild(tool, env);
    RunChild(reference, env);
    RunChild(fetch, env);
    std::vector<double> toolMs, referenceMs, toolMib, curlMib;
    int failures = 0;
    for (int i = 0; i < kRounds; ++i) {
      const Child t = RunChild(tool, env);
      const Child r = RunChild(reference, env);
      failures += !t.ok + !r.ok;
      toolMs.push_back(t.ms);
      toolMib.push_back(t.peakKb / 1024.0);
      referenceMs.push_back(r.ms);
      if (delay == 0) curlMib.push_back(RunChild(fetch, env).peakKb / 1024.0);
    }
    if (failures > 0) {
      std::fprintf(stderr, "bench_cli: %d runs did not resolve\n", failures);
      return 1;
    }
    const double t = Median(toolMs), r = Median(referenceMs), ratio = t / r;
    if (delay == 0) {
      std::printf(
          "| 8. Command line resolution, 0 ms service delay | %.1f ms (sorrel-resolve "
          "--captcha-program, median of %d) | %.1f ms (plain libcurl client, same exchanges) | "
          "%.3f | — (shown for reference) | — |\n",
          t, kRounds, r, ratio);
      const double m = Median(toolMib), c = Median(curlMib), memory = m / c;
      std::printf(
          "| 8. Command line peak resident memory (median of %d) | %.1f MiB (sorrel-resolve, one "
          "resolution) | %.1f MiB (curl -s of the file page) | %.3f | %s | %s |\n",
          kRounds, m, c, memory, kMemoryGoal.text, kMemoryGoal.Verdict(memory));
    } else {
      std::printf(
          "| 8. Command line resolution, 20 ms service delay | %.1f ms (sorrel-resolve "
          "--captcha-program, median of %d) | %.1f ms (plain libcurl client, same exchanges) | "
          "%.3f | %s | %s |\n",
          t, kRounds, r, ratio, kResolutionGoal.text, kResolutionGoal.Verdict(ratio));
    }
  }
  return 0;
}
