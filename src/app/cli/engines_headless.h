// The engines of a program without a GUI toolkit (the command line): the
// same HTTP stack, threads and regular expressions as the window program,
// pictures through libpng, libjpeg and giflib, and a desktop without
// windows, so that a request's notice returns at once.
#pragma once

#include "app/platform_services.h"

namespace sorrel {

// `quiet`: the HTTP stack writes no warnings of its cookie file; only the
// first call decides.
PlatformServices HeadlessPlatformEngines(bool quiet = false);

}  // namespace sorrel
