// Programs run as child processes in the POSIX builds: started from an
// argument list (never through a shell command line), waited on with a
// deadline, stopped, and always reaped.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sorrel {

// Where a standard stream of the child goes.
enum class ChildStream { kNull, kInherit, kPipe };

struct ChildLaunch {
  // argv[0] is looked up in PATH unless it holds a "/"; a program file
  // without "#!" runs through the shell, as execvp runs it.
  std::vector<std::string> argv;
  // Standard input is /dev/null.
  ChildStream out = ChildStream::kNull;
  ChildStream err = ChildStream::kInherit;
  // A process group of its own: Signal and Stop then reach the program's
  // own children, and a terminal's Ctrl+C does not reach it directly.
  bool ownGroup = false;
  // Linux: sent to the child when the thread that started it ends, so that
  // it never outlives a parent that was killed (0: none).
  int parentDeathSignal = 0;
  // Every descriptor above the standard three is closed in the child, one
  // this process left inheritable too: a program that listens on a port then
  // holds no socket of ours.
  bool closeOtherDescriptors = false;
  // Variables of this process's environment the child does not get.
  std::vector<std::string> dropEnvironment = {};
};

struct ChildExit {
  int code = -1;   // the exit code; -1 when a signal ended it or it is unknown
  int signal = 0;  // the signal that ended it, else 0
  // As a shell reports it: the code, or 128 + the signal.
  int Status() const { return signal != 0 ? 128 + signal : code; }
};

class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // Null with `error` (an errno value) when the program cannot be started,
  // one that is not found or cannot be executed included. The child starts
  // with no signal blocked and the default action for every signal this
  // process catches, and for SIGPIPE.
  static std::unique_ptr<ChildProcess> Start(const ChildLaunch& launch, int& error);
  // A child that still runs is killed (SIGKILL) and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Id() const { return pid_; }
  // This process's ends of the pipes; -1 for a stream that is no pipe.
  int OutFd() const { return outFd_; }
  int ErrFd() const { return errFd_; }

  // The next line of standard output without its line end ("\n" or
  // "\r\n"); at the end of the output, what came after the last line end
  // (empty when nothing did). A line longer than `limit` bytes is cut
  // there. Nothing when the deadline passes first.
  std::optional<std::string> ReadLine(Clock::time_point deadline, std::size_t limit = 4096);

  // Waits for the child to end, until `deadline` at most (Clock::now():
  // only looks). Its exit once it has ended, on every later call too.
  std::optional<ChildExit> Wait(Clock::time_point deadline);
  bool Running() { return !Wait(Clock::now()); }

  // Sends `signal` to the child, and to its group when it has one of its
  // own; nothing once it has been reaped.
  void Signal(int signal);
  // Sends `first` (0: nothing), waits up to `grace` for the child to end,
  // then kills it with SIGKILL; reaps it.
  ChildExit Stop(std::chrono::milliseconds grace, int first = SIGTERM);

 private:
  ChildProcess() = default;

  pid_t pid_ = -1;
  bool ownGroup_ = false;
  int outFd_ = -1;
  int errFd_ = -1;
  int pidFd_ = -1;  // readable once the child ends; -1 where the kernel has none
  std::optional<ChildExit> exit_;
  std::string pending_;  // output read beyond the last line given
  bool outputEnded_ = false;
};

}  // namespace sorrel
