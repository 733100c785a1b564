// The window system of the native Windows program: the desktop's top-level
// windows through EnumWindows, and MessageBoxW for the notice box. Titles and
// class names are read through the W functions and, like the notice's texts,
// cross to code page 936 explicitly, whatever the system's code page.
#pragma once

#include "support/window_system.h"

namespace sorrel {

class Win32WindowSystem : public WindowSystem {
 public:
  std::vector<TopLevel> EnumerateTopLevelWindows() override;
  std::uint32_t CurrentProcessId() override;
  int MessageBox(WindowHandle owner, const Text& message, const Text& title, int style) override;
};

}  // namespace sorrel
