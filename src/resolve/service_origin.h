#pragma once

#include "text/text.h"

namespace sorrel {

// Scheme and host of the file-hosting service, without a trailing "/". Fixed
// at build time; SORREL_SERVICE_ORIGIN in the environment overrides it (for
// tests and demonstrations against a service on another port).
const Text& ServiceOrigin();

}  // namespace sorrel
