// The desktop's top-level windows and its message box, as the notice box
// needs them; one implementation per front end (window_system_qt,
// window_system_win32).
#pragma once

#include <cstdint>
#include <vector>

#include "text/text.h"

namespace sorrel {

using WindowHandle = std::uintptr_t;

struct WindowInfo {
  WindowHandle handle = 0;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
  Text title;      // at most 255 bytes
  Text className;  // at most 49 bytes
};

// The desktop as the notice box sees it. One implementation per front end;
// each must say what its desktop holds, so every method is pure.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Every top-level window, visible or not, in the platform's order; the
  // `visible` flag tells which ones the user can see.
  struct TopLevel {
    WindowInfo info;
    bool visible = false;
  };
  virtual std::vector<TopLevel> EnumerateTopLevelWindows() = 0;
  virtual std::uint32_t CurrentProcessId() = 0;
  // A modal box; returns the platform's button code (IDOK = 1), 0 on failure.
  virtual int MessageBox(WindowHandle owner, const Text& message, const Text& title, int style) = 0;
};

}  // namespace sorrel
