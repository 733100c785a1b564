// The desktop of a program without windows: no window owns a notice and no
// box is shown, so that a request's notice returns at once.
#pragma once

#include <cstdint>
#include <vector>

#include "support/window_system.h"

namespace sorrel {

class NoWindows : public WindowSystem {
 public:
  std::vector<TopLevel> EnumerateTopLevelWindows() override { return {}; }
  std::uint32_t CurrentProcessId() override { return 0; }
  int MessageBox(WindowHandle, const Text&, const Text&, int) override { return 0; }
};

}  // namespace sorrel
