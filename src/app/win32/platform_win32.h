// The platform services of the native Windows program: the platform's
// engines with the desktop's own windows as the window system.
#pragma once

#include "app/platform_services.h"

namespace sorrel {

// Opens COM on the calling thread, which must be the window's.
PlatformServices Win32PlatformServices();

}  // namespace sorrel
