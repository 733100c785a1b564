#include "test_helpers/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <thread>

namespace sorrel::test {

namespace {

std::chrono::steady_clock::time_point Deadline(std::chrono::milliseconds timeout) {
  return std::chrono::steady_clock::now() + timeout;
}

int MillisLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Forks and execs the sim with `args`; the child's stdout (and stderr when
// `errFd` is given) go to new pipes. Everything the child needs is prepared
// before the fork, since only async-signal-safe calls may follow it.
pid_t Spawn(const std::vector<std::string>& args, int* outFd, int* errFd) {
  std::vector<std::string> argv = {SORREL_SIM_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0) return -1;
  if (errFd && ::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return -1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // no orphaned servers when a test crashes
#endif
    ::dup2(out[1], STDOUT_FILENO);
    if (errFd) ::dup2(err[1], STDERR_FILENO);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (errFd) ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    if (errFd) ::close(err[0]);
    return -1;
  }
  *outFd = out[0];
  if (errFd) *errFd = err[0];
  return pid;
}

// waitpid with a deadline; the exit code, 128 + signal for a signalled
// child, or -1 when it has not ended in time.
int WaitFor(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = Deadline(timeout);
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (r < 0 && errno != EINTR) return -1;
    if (MillisLeft(deadline) == 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds startTimeout) {
  bool hasPort = false;
  for (const std::string& a : args)
    hasPort = hasPort || a == "--port" || a.rfind("--port=", 0) == 0;
  if (!hasPort) args.insert(args.begin(), {"--port", "0"});
  pid_ = Spawn(args, &outFd_, nullptr);
  if (pid_ < 0) {
    error_ = "cannot start " SORREL_SIM_PATH;
    return;
  }
  const auto deadline = Deadline(startTimeout);
  std::string line;
  while (line.find('\n') == std::string::npos) {
    pollfd p{outFd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, MillisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      error_ = "sorrel-sim printed no base URL in time";
      return;
    }
    char buf[256];
    const ssize_t n = ::read(outFd_, buf, sizeof buf);
    if (n <= 0) {
      error_ = "sorrel-sim ended before printing its base URL (exit " +
               std::to_string(WaitFor(pid_, std::chrono::seconds(2))) + ")";
      pid_ = -1;
      return;
    }
    line.append(buf, static_cast<size_t>(n));
  }
  baseUrl_ = line.substr(0, line.find('\n'));
  const size_t colon = baseUrl_.rfind(':');
  if (baseUrl_.rfind("http://127.0.0.1:", 0) != 0 || colon == std::string::npos) {
    error_ = "unexpected first line from sorrel-sim: " + baseUrl_;
    return;
  }
  port_ = static_cast<std::uint16_t>(std::stoi(baseUrl_.substr(colon + 1)));
}

SimProcess::~SimProcess() {
  if (pid_ > 0 && Stop(SIGTERM, std::chrono::seconds(5)) < 0) {
    ::kill(pid_, SIGKILL);
    WaitFor(pid_, std::chrono::seconds(5));
  }
  if (outFd_ >= 0) ::close(outFd_);
}

int SimProcess::Stop(int signal, std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal);
  const int code = WaitFor(pid_, timeout);
  if (code >= 0) pid_ = -1;
  return code;
}

SimRun RunSimToEnd(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  SimRun run;
  int outFd = -1;
  int errFd = -1;
  const pid_t pid = Spawn(args, &outFd, &errFd);
  if (pid < 0) return run;
  const auto deadline = Deadline(timeout);
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const int ready = ::poll(fds, 2, MillisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? run.out : run.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  run.exitCode = WaitFor(pid, std::chrono::milliseconds(std::max(MillisLeft(deadline), 100)));
  if (run.exitCode < 0) {
    ::kill(pid, SIGKILL);
    WaitFor(pid, std::chrono::seconds(5));
  }
  return run;
}

}  // namespace sorrel::test
