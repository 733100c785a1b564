// A notice box owned by the program's own window, so that it stays in front
// of that window and blocks it.
#pragma once

#include <cstdint>
#include <optional>
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

constexpr int kNoticeStyleInformation = 64;  // MB_ICONINFORMATION with the OK button

// Replaces `list` with the visible top-level windows, in enumeration order.
void ListVisibleWindows(WindowSystem& windows, std::vector<WindowInfo>& list);
// The first visible top-level window of process `processId`, or 0.
WindowHandle FindOwnWindow(WindowSystem& windows, std::uint32_t processId);
// Shows `message`; absent arguments take the information style, the title
// "友情提醒" and the program's own window as owner. Returns the button code
// minus 1 (OK gives 0, a failed box -1).
int ShowNotice(WindowSystem& windows, const Text& message, std::optional<int> style = {},
               std::optional<Text> title = {}, std::optional<WindowHandle> owner = {});

}  // namespace sorrel
