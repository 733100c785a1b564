// What the benchmark programs share: a figure's table row with its goal, the
// median, and a timed run of a child process.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace sorrel::bench {

// A figure's goal as the table shows it, "≤ 1.2" or "≤ 16 ms": the figure
// meets it at or below the number.
struct Goal {
  const char* text;
  bool MetBy(double value) const { return value <= std::strtod(text + sizeof("≤ ") - 1, nullptr); }
  const char* Verdict(double value) const { return MetBy(value) ? "met" : "**missed**"; }
};

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

inline std::string Fixed(double v, int digits = 2) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
  return buffer;
}

// One row of docs/benchmarks.md: figure, measured, reference, ratio or
// value, goal, verdict.
inline void Row(const std::string& figure, const std::string& measured,
                const std::string& reference, const std::string& value, const std::string& goal,
                bool met) {
  std::printf("| %s | %s | %s | %s | %s | %s |\n", figure.c_str(), measured.c_str(),
              reference.c_str(), value.c_str(), goal.c_str(), met ? "met" : "**missed**");
  std::fflush(stdout);
}
inline void Row(const std::string& figure, const std::string& measured,
                const std::string& reference, const std::string& value, Goal goal,
                double figureValue) {
  Row(figure, measured, reference, value, goal.text, goal.MetBy(figureValue));
}

// A program run from fork to its end, its standard input empty and its
// standard output read here: what it wrote, how long after the fork it first
// wrote, whether it ended with status 0, its peak resident memory.
struct Child {
  std::string output;
  double firstOutputMs = -1, ms = 0;
  long peakKb = 0;
  bool ok = false;
};

// Runs `args` (the program first) with `env` added; `path` names the file
// to run when it is not args[0].
inline Child RunChild(std::vector<std::string> args, const std::vector<std::string>& env = {},
                      const char* path = nullptr) {
  using Ms = std::chrono::duration<double, std::milli>;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::execv(path != nullptr ? path : argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  Child child;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) {
    if (child.firstOutputMs < 0) {
      child.firstOutputMs = Ms(std::chrono::steady_clock::now() - start).count();
    }
    child.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  child.ms = Ms(std::chrono::steady_clock::now() - start).count();
  child.peakKb = usage.ru_maxrss;
  child.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return child;
}

}  // namespace sorrel::bench
