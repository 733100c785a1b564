#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "http/worker_thread.h"

namespace sorrel {

namespace {

// Without a window-message queue to wake on, waits are cut into slices so
// that the caller can process its events between them.
constexpr std::uint32_t kWaitSliceMs = 10;

struct WorkerState {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
};

class StdWorkerThread : public WorkerThread {
 public:
  explicit StdWorkerThread(std::shared_ptr<WorkerState> state) : state_(std::move(state)) {}
  WorkerState& state() { return *state_; }

 private:
  std::shared_ptr<WorkerState> state_;
};

class StdThreadSystem : public ThreadSystem {
 public:
  std::unique_ptr<WorkerThread> Start(std::function<void()> work) override {
    auto state = std::make_shared<WorkerState>();
    try {
      std::thread([state, work = std::move(work)]() mutable {
        work();
        work = nullptr;  // the worker's own resources go before it reports its end
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->ended.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      return nullptr;
    }
    return std::make_unique<StdWorkerThread>(state);
  }

  WaitResult Wait(WorkerThread* thread, std::uint32_t milliseconds) override {
    const std::uint32_t slice = milliseconds < kWaitSliceMs ? milliseconds : kWaitSliceMs;
    auto* worker = dynamic_cast<StdWorkerThread*>(thread);
    if (worker == nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(slice));
      return WaitResult::kFailed;
    }
    WorkerState& state = worker->state();
    std::unique_lock lock(state.mutex);
    if (state.ended.wait_for(lock, std::chrono::milliseconds(slice), [&] { return state.done; })) {
      return WaitResult::kFinished;
    }
    return slice == milliseconds ? WaitResult::kTimedOut : WaitResult::kEvents;
  }

  std::uint32_t TickCount() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }
};

}  // namespace

ThreadSystem& PlatformThreads() {
  static StdThreadSystem threads;
  return threads;
}

}  // namespace sorrel
