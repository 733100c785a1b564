// The command line's figures: sorrel-resolve resolving one address with a
// captcha program against a plain libcurl client making the same exchanges
// (bench_cli_plain), and its peak resident memory against curl fetching the
// same page. Processes are timed from fork to their end; the peak resident
// set comes from wait4. Prints rows of docs/benchmarks.md.
// Usage: bench_cli SORREL_RESOLVE BENCH_CLI_PLAIN BENCH_CLI_ASK CURL
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim_process.h"

namespace {

struct Run {
  double ms = 0;
  double mib = 0;
  int status = -1;
};

Run Measure(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run run;
  run.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.mib = usage.ru_maxrss / 1024.0;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

constexpr int kRounds = 20;

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
    Measure(tool, env);
    Measure(reference, env);
    Measure(fetch, env);
    std::vector<double> toolMs, referenceMs, toolMib, curlMib;
    int failures = 0;
    for (int i = 0; i < kRounds; ++i) {
      const Run t = Measure(tool, env);
      const Run r = Measure(reference, env);
      failures += (t.status != 0) + (r.status != 0);
      toolMs.push_back(t.ms);
      toolMib.push_back(t.mib);
      referenceMs.push_back(r.ms);
      if (delay == 0) curlMib.push_back(Measure(fetch, env).mib);
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
          "resolution) | %.1f MiB (curl -s of the file page) | %.3f | ≤ 2.0 | %s |\n",
          kRounds, m, c, memory, memory <= 2.0 ? "met" : "**missed**");
    } else {
      std::printf(
          "| 8. Command line resolution, 20 ms service delay | %.1f ms (sorrel-resolve "
          "--captcha-program, median of %d) | %.1f ms (plain libcurl client, same exchanges) | "
          "%.3f | ≤ 1.05 | %s |\n",
          t, kRounds, r, ratio, ratio <= 1.05 ? "met" : "**missed**");
    }
  }
  return 0;
}
