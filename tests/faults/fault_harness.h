// Shared pieces of the fault-matrix tests: the process's one HTTP stack, an
// event pump that measures how long the caller went without processing
// events, and readings of the process's own threads and memory.
#pragma once

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>

#include "http/http_stack_curl.h"
#include "support/event_pump.h"
#include "support/notice.h"

namespace sorrel::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Longest time the caller may go without processing its events. A window
// frozen this long is plainly stuck; normal waits are cut into 10 ms slices.
// Debug builds decode a megabyte page in a few hundred milliseconds before
// the harvest pumps, and ctest runs two tests at once on two cores, so the
// bound leaves room for that; the stall goal itself is a benchmark figure.
// Sanitizers make the copies of large bodies many times slower, and
// ThreadSanitizer keeps shadow memory for all that the program touches.
#if defined(__SANITIZE_THREAD__)
constexpr milliseconds kLivenessBound{5000};
constexpr long kMemoryScale = 4;
#elif defined(__SANITIZE_ADDRESS__)
constexpr milliseconds kLivenessBound{3000};
constexpr long kMemoryScale = 1;
#else
constexpr milliseconds kLivenessBound{1500};
constexpr long kMemoryScale = 1;
#endif

// Workers abandoned at a time-out may outlive a test, so the stack lives on.
inline CurlHttpStack& Stack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

// Counts the calls and records the longest gap between two of them, and
// between Begin or End and the nearest call.
class GapPump : public EventPump {
 public:
  void Begin() {
    last_ = begun_ = Clock::now();
    maxGap_ = milliseconds(0);
    calls = 0;
  }
  void ProcessPendingEvents() override {
    Note();
    ++calls;
  }
  milliseconds End() {
    Note();
    return maxGap_;
  }
  milliseconds maxGap() const { return maxGap_; }
  // When the longest gap ended, counted from Begin.
  milliseconds maxGapAt() const { return maxGapAt_; }
  int calls = 0;

 private:
  void Note() {
    const auto now = Clock::now();
    const auto gap = std::chrono::duration_cast<milliseconds>(now - last_);
    if (gap > maxGap_) {
      maxGap_ = gap;
      maxGapAt_ = std::chrono::duration_cast<milliseconds>(now - begun_);
    }
    last_ = now;
  }

  Clock::time_point begun_ = Clock::now();
  Clock::time_point last_ = begun_;
  milliseconds maxGap_{0};
  milliseconds maxGapAt_{0};
};

class SilentWindows : public WindowSystem {
 public:
  int notices = 0;
  std::vector<TopLevel> EnumerateTopLevelWindows() override { return {}; }
  std::uint32_t CurrentProcessId() override { return 0; }
  int MessageBox(WindowHandle, const Text&, const Text&, int) override {
    ++notices;
    return 1;
  }
};

// A field of /proc/self/status in kB (or a plain count), -1 when missing.
inline long ProcStatus(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

inline long ThreadCount() { return ProcStatus("Threads"); }
inline long PeakResidentKb() { return ProcStatus("VmHWM"); }

// Waits up to `limit` for the thread count to come down to `count`.
inline bool ThreadsSettleTo(long count, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (ThreadCount() > count) {
    if (Clock::now() > deadline) return false;
    usleep(20'000);
  }
  return true;
}

// A loopback port on which nothing listens: bound once, then released.
inline int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 9;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// Counts the forks of this process, so that a test can tell that nothing
// started another program.
inline std::atomic<int>& ForkCount() {
  static std::atomic<int> count{0};
  static const bool registered = [] {
    pthread_atfork(
        nullptr, [] { ++count; }, nullptr);
    return true;
  }();
  (void)registered;
  return count;
}

}  // namespace sorrel::test
