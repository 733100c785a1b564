#include "support/notice.h"

#include <utility>

#include "text/codepage.h"

namespace sorrel {

namespace {

// The sizes of the buffers that window titles and class names are read into,
// less the terminating zero.
constexpr int kTitleBytes = 255;
constexpr int kClassNameBytes = 49;

}  // namespace

void ListVisibleWindows(WindowSystem& windows, std::vector<WindowInfo>& list) {
  std::vector<WindowInfo> visible;
  for (auto& window : windows.EnumerateTopLevelWindows()) {
    if (!window.visible) continue;
    WindowInfo info = std::move(window.info);
    info.title = Left(info.title, kTitleBytes);
    info.className = Left(info.className, kClassNameBytes);
    visible.push_back(std::move(info));
  }
  list = std::move(visible);
}

WindowHandle FindOwnWindow(WindowSystem& windows, std::uint32_t processId) {
  std::vector<WindowInfo> list;
  ListVisibleWindows(windows, list);
  for (const auto& info : list) {
    if (info.processId == processId) return info.handle;
  }
  return 0;
}

int ShowNotice(WindowSystem& windows, const Text& message, std::optional<int> style,
               std::optional<Text> title, std::optional<WindowHandle> owner) {
  const WindowHandle ownerWindow =
      owner ? *owner : FindOwnWindow(windows, windows.CurrentProcessId());
  const Text boxTitle = title ? *title : Utf8ToGbk("友情提醒");
  return windows.MessageBox(ownerWindow, message, boxTitle,
                            style.value_or(kNoticeStyleInformation)) -
         1;
}

}  // namespace sorrel
