#include "app/qt/platform_qt.h"

#include "app/engines.h"
#include "support/window_system_qt.h"

namespace sorrel {

PlatformServices QtPlatformServices() {
  static QtWindowSystem windows;
  return PlatformEngines(windows);
}

}  // namespace sorrel
