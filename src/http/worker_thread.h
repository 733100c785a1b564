// Starting the worker of a timed request and waiting for it while the
// calling thread keeps its window alive. One implementation per platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace sorrel {

enum class WaitResult {
  kFinished,  // the worker has ended
  kTimedOut,  // the whole wait elapsed
  kEvents,    // woken early so that the caller can process window events
  kFailed,
};

// Owns nothing of the worker: destroying it lets the worker run on
// detached, which is how a timed-out worker is abandoned.
class WorkerThread {
 public:
  virtual ~WorkerThread() = default;
};

class ThreadSystem {
 public:
  virtual ~ThreadSystem() = default;
  // Runs `work` at once on a thread of its own (a new one, or one whose work
  // has ended); null when no thread could be started.
  virtual std::unique_ptr<WorkerThread> Start(std::function<void()> work) = 0;
  // Waits at most `milliseconds` for `thread` (null waits fail). Returns
  // early with kEvents when the caller may have window events to process.
  virtual WaitResult Wait(WorkerThread* thread, std::uint32_t milliseconds) = 0;
  // Milliseconds on a monotonic clock, wrapping around like a 32-bit tick.
  virtual std::uint32_t TickCount() = 0;
};

// The process's own threads.
ThreadSystem& PlatformThreads();

}  // namespace sorrel
