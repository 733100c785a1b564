#include "support/event_pump.h"

namespace sorrel {

EventPump& NoEventPump() {
  static EventPump pump;
  return pump;
}

}  // namespace sorrel
