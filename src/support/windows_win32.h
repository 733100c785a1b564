// The window system of the native Windows program: the desktop's top-level
// windows through EnumWindows, and MessageBoxA for the notice box. Titles
// and class names are read through the A functions, in the program's code
// page.
#pragma once

#include "support/notice.h"

namespace sorrel {

class Win32WindowSystem : public WindowSystem {
 public:
  std::vector<TopLevel> EnumerateTopLevelWindows() override;
  std::uint32_t CurrentProcessId() override;
  int MessageBox(WindowHandle owner, const Text& message, const Text& title, int style) override;
};

}  // namespace sorrel
