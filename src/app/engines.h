// The engines of the platform this build is for: its HTTP stack, threads,
// regular-expression engine and picture codec, with the front end's own
// window system. One implementation per platform, beside the front end that
// starts it (qt/engines_linux.cpp, win32/engines_win32.cpp).
#pragma once

#include "app/platform_services.h"

namespace sorrel {

// The window program's one source of its services. `windows` replaces the
// front end's own window system (the application's top-level widgets, the
// desktop's windows), `stack` the platform's HTTP stack: tests and
// benchmarks bring their own. The stack is made once and lives until the
// process ends. On Windows the calling thread's COM apartment is opened here
// and closed when the last copy of the regular-expression factory is gone.
// The Qt window system needs a QApplication on the calling thread when a
// notice box is shown.
PlatformServices PlatformEngines(WindowSystem* windows = nullptr, HttpStack* stack = nullptr);

// Does ahead, on the calling thread, what the first captcha and the first
// resolution would otherwise do on the window's: load the HTTP stack, build
// the code-page tables, load the picture decoders. For a thread started
// after the window's first paint; harmless to run more than once.
void WarmPlatformEngines();

}  // namespace sorrel
