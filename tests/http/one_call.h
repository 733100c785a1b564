// The fixture the request operations' tests share: a stack scripted for one
// case and a client over it, whose workers run at once on scripted threads
// or, for a page request, on the platform's.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/web_access.h"
#include "http/worker_thread.h"
#include "test_helpers/fake_stack.h"

namespace sorrel::test {

// Runs the worker at once or never, and plays back scripted waits and ticks.
class ScriptedThreads : public ThreadSystem {
 public:
  bool runWorker = true;
  bool failStart = false;
  std::deque<WaitResult> waits;
  std::deque<std::uint32_t> ticks;
  std::vector<std::uint32_t> waitedFor;

  std::unique_ptr<WorkerThread> Start(std::function<void()> work) override {
    if (failStart) return nullptr;
    if (runWorker) work();
    return std::make_unique<WorkerThread>();
  }
  WaitResult Wait(WorkerThread* thread, std::uint32_t milliseconds) override {
    waitedFor.push_back(milliseconds);
    if (thread == nullptr) return WaitResult::kFailed;
    WaitResult r = waits.empty() ? WaitResult::kFinished : waits.front();
    if (!waits.empty()) waits.pop_front();
    return r;
  }
  std::uint32_t TickCount() override {
    std::uint32_t t = ticks.empty() ? last_ : ticks.front();
    if (!ticks.empty()) ticks.pop_front();
    last_ = t;
    return t;
  }

 private:
  std::uint32_t last_ = 0;
};

// The calls of `stack` that start with `prefix` ("request", "close", ...).
inline std::vector<std::string> CallsNamed(const FakeHttpStack& stack, std::string_view prefix) {
  std::vector<std::string> named;
  for (const std::string& call : stack.Calls()) {
    if (call.rfind(prefix, 0) == 0) named.push_back(call);
  }
  return named;
}

struct OneCall {
  OneCall() : OneCall(nullptr) {}
  explicit OneCall(ThreadSystem* workers)
      : client(stack, pump, windows, workers != nullptr ? *workers : threads) {}

  // The request the stack was asked to open; empty when none.
  std::string RequestCall() const {
    const std::vector<std::string> requests = CallsNamed(stack, "request");
    return requests.empty() ? std::string() : requests.front();
  }

  FakeHttpStack stack;
  CountingPump pump;
  RecordingWindows windows;
  ScriptedThreads threads;
  WebClient client;
};

// A page request's case: its workers are real threads.
struct PageCall : OneCall {
  PageCall() : OneCall(&PlatformThreads()) {}
};

}  // namespace sorrel::test
