// The child process header's former name, for code not yet moved to it.
#pragma once

#include "support/child_process.h"
