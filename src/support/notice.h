// A notice box owned by the program's own window, so that it stays in front
// of that window and blocks it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "support/window_system.h"
#include "text/text.h"

namespace sorrel {

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
