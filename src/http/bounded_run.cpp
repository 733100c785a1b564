#include "http/bounded_run.h"

#include <algorithm>

namespace sorrel {

void StoppingPump::ProcessPendingEvents() {
  events_.ProcessPendingEvents();
  if (request_ != nullptr && Stopped(stop_)) request_->Cancel();
}

RunEnd RunBounded(HttpStack& stack, ThreadSystem& threads, EventPump& events, std::int64_t limitMs,
                  const StopFlag& stop, const std::function<void(StoppingPump* pump)>& exchange) {
  const std::uint32_t start = threads.TickCount();
  auto elapsed = [&]() -> std::int64_t {
    return static_cast<std::uint32_t>(threads.TickCount() - start);
  };
  if (limitMs > 0 && stack.LimitsTime()) {
    // The stack keeps the limit and calls the pump while it waits, so the
    // exchange needs no worker; waking one and then this thread costs about
    // as much as a whole exchange on loopback.
    StoppingPump pump(events, stop);
    exchange(&pump);
    if (Stopped(stop)) return RunEnd::kStopped;
    return elapsed() >= limitMs ? RunEnd::kTimedOut : RunEnd::kFinished;
  }

  std::unique_ptr<WorkerThread> worker = threads.Start([exchange] { exchange(nullptr); });
  for (;;) {
    const std::int64_t remaining = std::max<std::int64_t>(0, limitMs - elapsed());
    const WaitResult result = threads.Wait(worker.get(), static_cast<std::uint32_t>(remaining));
    const bool timedOut = result == WaitResult::kTimedOut || elapsed() >= limitMs;
    events.ProcessPendingEvents();
    if (timedOut) return RunEnd::kTimedOut;
    if (Stopped(stop)) return RunEnd::kStopped;
    if (result == WaitResult::kFinished) return RunEnd::kFinished;
  }
}

}  // namespace sorrel
