// "Process pending events": the front end lets its window handle the messages
// that are waiting, then returns. The core never owns a window, so it takes
// this seam; the default does nothing.
#pragma once

namespace sorrel {

class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessPendingEvents() {}
};

// A pump that does nothing, for callers without a window.
EventPump& NoEventPump();

}  // namespace sorrel
