#include "app/win32/platform_win32.h"

#include "app/engines.h"
#include "support/window_system_win32.h"

namespace sorrel {

PlatformServices Win32PlatformServices() {
  static Win32WindowSystem windows;
  return PlatformEngines(windows);
}

}  // namespace sorrel
