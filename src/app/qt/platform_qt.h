// The platform services of the Qt front end: the platform's engines with
// the application's own top-level widgets as the window system.
#pragma once

#include "app/platform_services.h"

namespace sorrel {

// Needs a QApplication on the calling thread when a notice box is shown.
PlatformServices QtPlatformServices();

}  // namespace sorrel
