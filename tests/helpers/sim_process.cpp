#include "test_helpers/sim_process.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sorrel::test {

namespace {

using Clock = ChildProcess::Clock;

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// The sim with `args`; its standard output (and standard error when
// `errToo`) into pipes. It gets SIGTERM when the thread that started it
// ends: no orphaned servers when a test crashes.
std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& args, bool errToo) {
  ChildLaunch launch{
      {SORREL_SIM_PATH}, ChildStream::kPipe, errToo ? ChildStream::kPipe : ChildStream::kInherit};
  launch.argv.insert(launch.argv.end(), args.begin(), args.end());
  launch.parentDeathSignal = SIGTERM;
  int error = 0;
  return ChildProcess::Start(launch, error);
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds startTimeout) {
  bool hasPort = false;
  for (const std::string& a : args)
    hasPort = hasPort || a == "--port" || a.rfind("--port=", 0) == 0;
  if (!hasPort) args.insert(args.begin(), {"--port", "0"});
  child_ = Spawn(args, false);
  if (!child_) {
    error_ = "cannot start " SORREL_SIM_PATH;
    return;
  }
  const std::optional<std::string> line = child_->ReadLine(Clock::now() + startTimeout);
  if (!line) {
    error_ = "sorrel-sim printed no base URL in time";
    return;
  }
  if (line->empty()) {
    const std::optional<ChildExit> exit = child_->Wait(Clock::now() + std::chrono::seconds(2));
    error_ = "sorrel-sim ended before printing its base URL (exit " +
             std::to_string(exit ? exit->Status() : -1) + ")";
    child_.reset();
    return;
  }
  baseUrl_ = *line;
  const size_t colon = baseUrl_.rfind(':');
  if (baseUrl_.rfind("http://127.0.0.1:", 0) != 0 || colon == std::string::npos) {
    error_ = "unexpected first line from sorrel-sim: " + baseUrl_;
    return;
  }
  port_ = static_cast<std::uint16_t>(std::stoi(baseUrl_.substr(colon + 1)));
}

SimProcess::~SimProcess() {
  if (child_) child_->Stop(std::chrono::seconds(5), SIGTERM);
}

pid_t SimProcess::pid() const { return child_ ? child_->Id() : -1; }

int SimProcess::Stop(int signal, std::chrono::milliseconds timeout) {
  if (!child_) return -1;
  child_->Signal(signal);
  const std::optional<ChildExit> exit = child_->Wait(Clock::now() + timeout);
  if (!exit) return -1;
  child_.reset();
  return exit->Status();
}

SimRun RunSimToEnd(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  SimRun run;
  std::unique_ptr<ChildProcess> child = Spawn(args, true);
  if (!child) return run;
  const auto deadline = Clock::now() + timeout;
  pollfd fds[2] = {{child->OutFd(), POLLIN, 0}, {child->ErrFd(), POLLIN, 0}};
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
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? run.out : run.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  const auto grace = std::chrono::milliseconds(std::max(MillisLeft(deadline), 100));
  if (const std::optional<ChildExit> exit = child->Wait(Clock::now() + grace)) {
    run.exitCode = exit->Status();
  }
  return run;
}

}  // namespace sorrel::test
