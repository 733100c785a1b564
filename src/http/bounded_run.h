// Running one exchange within a time limit while the calling thread keeps its
// window alive. Every request operation goes through it: on the calling
// thread when the stack keeps the limit itself and calls the pump while it
// waits, else on a worker that the calling thread waits for, processing its
// events, and abandons at the limit.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "http/http_stack.h"
#include "http/worker_thread.h"
#include "support/event_pump.h"

namespace sorrel {

// Set by whoever starts a request that replaces an earlier one; the earlier
// one ends at its next wait. Shared with workers, which may outlive both.
using StopFlag = std::shared_ptr<std::atomic<bool>>;
inline StopFlag NewStopFlag() { return std::make_shared<std::atomic<bool>>(false); }
inline bool Stopped(const StopFlag& stop) { return stop && stop->load(); }

// The pump a request on the calling thread hands to its stack: the caller's
// events, then, once `stop` is set, the end of the request it watches.
class StoppingPump : public EventPump {
 public:
  StoppingPump(EventPump& events, StopFlag stop) : events_(events), stop_(std::move(stop)) {}
  // Null before the request exists and before it goes.
  void Watch(HttpRequest* request) { request_ = request; }
  void ProcessPendingEvents() override;

 private:
  EventPump& events_;
  StopFlag stop_;
  HttpRequest* request_ = nullptr;
};

enum class RunEnd {
  kFinished,  // the exchange ran to its end
  kTimedOut,  // the limit passed, even if the exchange ended in the same pass
  kStopped,   // `stop` was set while the caller waited
};

// Runs `exchange` once. On the calling thread it gets a pump to hand to
// the stack, which it points at its request, and it sets the limit on that
// request; on a worker it gets null, and its copy owns what it captured, so
// that an abandoned worker runs on harmlessly. A limit of 0 or less ends
// the run as a time-out at the first wake-up. When no worker can be
// started, the caller waits out the limit all the same.
RunEnd RunBounded(HttpStack& stack, ThreadSystem& threads, EventPump& events, std::int64_t limitMs,
                  const StopFlag& stop, const std::function<void(StoppingPump* pump)>& exchange);

}  // namespace sorrel
