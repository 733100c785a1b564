#include "app/qt/platform_qt.h"

#include "app/engines.h"
#include "support/windows_qt.h"

namespace sorrel {

PlatformServices QtPlatformServices() {
  static QtWindowSystem windows;
  return PlatformEngines(windows);
}

}  // namespace sorrel
