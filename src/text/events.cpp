#include "text/events.h"

namespace sorrel {

EventPump& NoEventPump() {
  static EventPump pump;
  return pump;
}

}  // namespace sorrel
