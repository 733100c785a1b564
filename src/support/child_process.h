// Programs run as child processes: started from an argument list (never
// through a shell command line), waited on with a deadline, stopped, and
// always reaped. One implementation per platform beside this header.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorrel {

#ifdef _WIN32
using ChildId = unsigned long;  // the process id
#else
using ChildId = pid_t;
#endif

// Where a standard stream of the child goes.
enum class ChildStream { kNull, kInherit, kPipe };

struct ChildLaunch {
  // argv[0] is looked up in PATH unless it holds a "/"; a program file
  // without "#!" runs through the shell, as execvp runs it. Windows: UTF-8;
  // argv[0] is found as CreateProcessW finds it (".exe" added, the
  // program's folder, the system's, then PATH), and each argument is quoted
  // so that the C runtime's rules give it back unchanged.
  std::vector<std::string> argv;
  // Standard input is /dev/null (Windows: NUL).
  ChildStream out = ChildStream::kNull;
  ChildStream err = ChildStream::kInherit;
  // A process group of its own: Signal and Stop then reach the program's
  // own children, and a terminal's Ctrl+C does not reach it directly.
  // Windows: a console group of its own (Ctrl+C only).
  bool ownGroup = false;
  // Linux: sent to the child when the thread that started it ends, so that
  // it never outlives a parent that was killed (0: none). Windows: every
  // child is in a job of this process's that ends it with this process.
  int parentDeathSignal = 0;
  // Every descriptor above the standard three is closed in the child, one
  // this process left inheritable too: a program that listens on a port then
  // holds no socket of ours. Windows: the child inherits only its standard
  // handles, always.
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
  // process catches, and for SIGPIPE. Windows: ENOENT, EACCES, ENOEXEC or
  // EINVAL for what the system reports.
  static std::unique_ptr<ChildProcess> Start(const ChildLaunch& launch, int& error);
  // A child that still runs is killed (SIGKILL) and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  ChildId Id() const { return pid_; }
#ifndef _WIN32
  // This process's ends of the pipes; -1 for a stream that is no pipe.
  int OutFd() const { return outFd_; }
  int ErrFd() const { return errFd_; }
#endif

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
  // own; nothing once it has been reaped. Windows has no signals: any but 0
  // ends the child at once, its exit code then 128 + `signal`.
  void Signal(int signal);
  // Sends `first` (0: nothing), waits up to `grace` for the child to end,
  // then kills it with SIGKILL; reaps it. Windows: the child is given
  // `grace` to end by itself, then ended.
  ChildExit Stop(std::chrono::milliseconds grace, int first = SIGTERM);

 private:
  ChildProcess() = default;

#ifdef _WIN32
  unsigned long pid_ = 0;
  void* process_ = nullptr;
  void* out_ = nullptr;  // this process's end of the output pipe; null when none
  void* err_ = nullptr;
#else
  pid_t pid_ = -1;
  bool ownGroup_ = false;
  int outFd_ = -1;
  int errFd_ = -1;
  int pidFd_ = -1;  // readable once the child ends; -1 where the kernel has none
#endif
  std::optional<ChildExit> exit_;
  std::string pending_;  // output read beyond the last line given
  bool outputEnded_ = false;
};

#ifdef _WIN32
// One argument as the C runtime's rules read it back unchanged from a
// command line: as it is when it holds no space, tab, line end or quote and
// is not empty; else in quotes, each quote escaped and the backslashes
// before a quote or the closing quote doubled.
std::wstring QuoteArgument(std::wstring_view argument);
// The command line of an argument list (UTF-8), each argument quoted.
std::wstring CommandLineOf(const std::vector<std::string>& argv);
#endif

}  // namespace sorrel
