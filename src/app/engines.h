// The engines of the platform this build is for: its HTTP stack, threads,
// regular-expression engine and picture codec, with the front end's own
// window system. One implementation per platform, beside this header.
#pragma once

#include "app/platform_services.h"

namespace sorrel {

// The stack is made once and lives until the process ends. On Windows the
// calling thread's COM apartment is opened here and closed when the last
// copy of the regular-expression factory is gone.
PlatformServices PlatformEngines(WindowSystem& windows);

}  // namespace sorrel
