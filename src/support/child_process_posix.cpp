#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <thread>

namespace sorrel {

namespace {

// A descriptor above the three standard ones, so that placing one stream
// in the child never overwrites the source of another.
int AboveStandard(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

// Marks every descriptor above the standard three to close at exec; the
// child reports a failed exec through one of them until then.
void CloseAboveStandardAtExec() {
  if (close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  // A kernel without close_range: each possible descriptor in turn.
  rlimit limit{};
  const rlim_t last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                          ? std::min<rlim_t>(limit.rlim_cur, 1 << 20)
                          : 1 << 16;
  for (int fd = STDERR_FILENO + 1; static_cast<rlim_t>(fd) < last; ++fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

int MillisUntil(ChildProcess::Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - ChildProcess::Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 1000));
}

// The descriptors the child needs, made before it is started.
struct Plumbing {
  int devNull = -1;
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  int exec[2] = {-1, -1};  // the child reports a failed exec here
  // What becomes the child's standard output and error (-1: this
  // process's own). Kept here, in memory, for the vforked child to read.
  int outSource = -1;
  int errSource = -1;

  ~Plumbing() {
    for (int* fd : {&devNull, &out[0], &out[1], &err[0], &err[1], &exec[0], &exec[1]}) {
      CloseIfOpen(*fd);
    }
  }

  bool Open(const ChildLaunch& launch) {
    devNull = AboveStandard(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull < 0 || !Pipe(exec)) return false;
    return (launch.out != ChildStream::kPipe || Pipe(out)) &&
           (launch.err != ChildStream::kPipe || Pipe(err));
  }

  static bool Pipe(int (&fds)[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    fds[0] = AboveStandard(fds[0]);
    fds[1] = AboveStandard(fds[1]);
    return fds[0] >= 0 && fds[1] >= 0;
  }

  int Source(ChildStream stream, const int (&pipe)[2]) const {
    return stream == ChildStream::kPipe ? pipe[1] : stream == ChildStream::kNull ? devNull : -1;
  }
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const ChildLaunch& launch, int& error) {
  error = 0;
  if (launch.argv.empty()) {
    error = EINVAL;
    return nullptr;
  }
  Plumbing plumbing;
  if (!plumbing.Open(launch)) {
    error = errno;
    return nullptr;
  }
  std::vector<char*> argv;
  for (const std::string& argument : launch.argv)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Built before the child starts: it shares this process's memory and may
  // not allocate.
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string_view name = variable.substr(0, variable.find('='));
    if (std::find(launch.dropEnvironment.begin(), launch.dropEnvironment.end(), name) ==
        launch.dropEnvironment.end()) {
      envp.push_back(*entry);
    }
  }
  envp.push_back(nullptr);
  plumbing.outSource = plumbing.Source(launch.out, plumbing.out);
  plumbing.errSource = plumbing.Source(launch.err, plumbing.err);

  // No handler of this process may run in the child, which shares its
  // memory until it calls exec: every signal stays blocked until the child
  // has set the caught ones back to their defaults.
  sigset_t all, before, none;
  sigfillset(&all);
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  // vfork rather than fork: the child only sets itself up and calls execvp
  // (which keeps its search of PATH and its shell for a script without
  // "#!"), so this process's memory need not be copied for it. This thread
  // resumes once the child has started the program or given up.
  const pid_t pid = vfork();
  if (pid == 0) {
    for (int s = 1; s < NSIG; ++s) {
      struct sigaction action {};
      if (sigaction(s, nullptr, &action) != 0) continue;
      if (s == SIGPIPE || (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN)) {
        action = {};
        action.sa_handler = SIG_DFL;
        sigaction(s, &action, nullptr);
      }
    }
    if (launch.ownGroup) setpgid(0, 0);
#ifdef __linux__
    if (launch.parentDeathSignal != 0) prctl(PR_SET_PDEATHSIG, launch.parentDeathSignal);
#endif
    dup2(plumbing.devNull, STDIN_FILENO);
    if (plumbing.outSource >= 0) dup2(plumbing.outSource, STDOUT_FILENO);
    if (plumbing.errSource >= 0) dup2(plumbing.errSource, STDERR_FILENO);
    if (launch.closeOtherDescriptors) CloseAboveStandardAtExec();
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvpe(argv[0], argv.data(), envp.data());
    const int failure = errno;
    (void)!write(plumbing.exec[1], &failure, sizeof failure);
    _exit(127);
  }
  const int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (pid < 0) {
    error = forkError;
    return nullptr;
  }
  CloseIfOpen(plumbing.exec[1]);
  int execError = 0;
  ssize_t n = 0;
  while ((n = read(plumbing.exec[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  std::unique_ptr<ChildProcess> child(new ChildProcess);
  child->pid_ = pid;
  child->ownGroup_ = launch.ownGroup;
  if (n == sizeof execError) {
    child->Wait(Clock::time_point::max());
    error = execError;
    return nullptr;
  }
  std::swap(child->outFd_, plumbing.out[0]);
  std::swap(child->errFd_, plumbing.err[0]);
#ifdef SYS_pidfd_open
  child->pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
  return child;
}

ChildProcess::~ChildProcess() {
  if (!exit_) Stop(std::chrono::milliseconds(0), SIGKILL);
  CloseIfOpen(outFd_);
  CloseIfOpen(errFd_);
  CloseIfOpen(pidFd_);
}

std::optional<std::string> ChildProcess::ReadLine(Clock::time_point deadline, std::size_t limit) {
  auto take = [&](std::size_t length, std::size_t skip) {
    std::string line = pending_.substr(0, length);
    pending_.erase(0, length + skip);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  };
  for (;;) {
    if (const std::size_t end = pending_.find('\n'); end != std::string::npos && end <= limit) {
      return take(end, 1);
    }
    if (pending_.size() >= limit) return take(limit, 0);
    if (outputEnded_ || outFd_ < 0) return take(pending_.size(), 0);
    pollfd p{outFd_, POLLIN, 0};
    const int ready = poll(&p, 1, MillisUntil(deadline));
    if (ready < 0 && errno != EINTR) {
      outputEnded_ = true;
      continue;
    }
    if (ready <= 0) {
      if (Clock::now() >= deadline) return std::nullopt;
      continue;
    }
    char buffer[512];
    const ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      outputEnded_ = true;
      continue;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<ChildExit> ChildProcess::Wait(Clock::time_point deadline) {
  while (!exit_) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      ChildExit ended;
      if (WIFEXITED(status)) ended.code = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
      exit_ = ended;
      break;
    }
    // Reaped elsewhere (SIGCHLD ignored): ended, how is not known.
    if (r < 0 && errno == ECHILD) exit_ = ChildExit{};
    if (exit_ || Clock::now() >= deadline) break;
    if (r < 0 && errno == EINTR) continue;
    if (pidFd_ >= 0) {
      pollfd p{pidFd_, POLLIN, 0};
      poll(&p, 1, MillisUntil(deadline));
    } else {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::min(10, std::max(1, MillisUntil(deadline)))));
    }
  }
  return exit_;
}

void ChildProcess::Signal(int signal) {
  // A child not yet reaped keeps its process id, and with it its group's,
  // from being given to another process.
  if (exit_ || signal == 0) return;
  if (ownGroup_) kill(-pid_, signal);
  kill(pid_, signal);
}

ChildExit ChildProcess::Stop(std::chrono::milliseconds grace, int first) {
  Signal(first);
  if (const std::optional<ChildExit> ended = Wait(Clock::now() + grace)) return *ended;
  Signal(SIGKILL);
  return *Wait(Clock::time_point::max());
}

}  // namespace sorrel
