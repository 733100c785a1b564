#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "http/worker_thread.h"

namespace sorrel {

namespace {

// Without a window-message queue to wake on, waits are cut into slices so
// that the caller can process its events between them.
constexpr std::uint32_t kWaitSliceMs = 10;

// A thread whose work has ended waits this long for more before it ends:
// handing work to a waiting thread costs a wake-up, where a new thread costs
// its creation and a cold stack, a fifth of a whole call to a download
// engine on loopback.
constexpr auto kIdleLife = std::chrono::seconds(10);
constexpr std::size_t kMaxIdle = 2;

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

struct Job {
  std::function<void()> work;
  std::shared_ptr<WorkerState> state;
};

// One thread waiting for work.
struct Idle {
  std::condition_variable wake;
  Job job;
  bool given = false;
};

class StdThreadSystem : public ThreadSystem {
 public:
  std::unique_ptr<WorkerThread> Start(std::function<void()> work) override {
    auto state = std::make_shared<WorkerState>();
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        Idle* waiting = idle_.back();
        idle_.pop_back();
        waiting->job = {std::move(work), state};
        waiting->given = true;
        waiting->wake.notify_one();
        return std::make_unique<StdWorkerThread>(state);
      }
    }
    try {
      std::thread([this, job = Job{std::move(work), state}]() mutable {
        Serve(std::move(job));
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

 private:
  // Runs jobs until none comes within kIdleLife, or enough threads wait.
  // A thread joins the waiting ones before it reports its end, so that work
  // started after that report finds it.
  void Serve(Job job) {
    Idle idle;
    for (;;) {
      job.work();
      job.work = nullptr;  // the worker's own resources go before it reports its end
      bool stays = false;
      {
        std::lock_guard lock(mutex_);
        stays = idle_.size() < kMaxIdle;
        if (stays) idle_.push_back(&idle);
      }
      {
        std::lock_guard lock(job.state->mutex);
        job.state->done = true;
      }
      job.state->ended.notify_all();
      job.state.reset();
      if (!stays) return;

      std::unique_lock lock(mutex_);
      if (!idle.wake.wait_for(lock, kIdleLife, [&] { return idle.given; })) {
        std::erase(idle_, &idle);
        return;
      }
      job = std::move(idle.job);
      idle.given = false;
    }
  }

  std::mutex mutex_;
  std::vector<Idle*> idle_;
};

}  // namespace

ThreadSystem& PlatformThreads() {
  // Never destroyed: waiting threads may still use it while the process ends.
  static auto* threads = new StdThreadSystem();
  return *threads;
}

}  // namespace sorrel
