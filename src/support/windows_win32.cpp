#include "support/windows_win32.h"

#include <windows.h>
// The interface's member, not the header's alias of MessageBoxA/W.
#undef MessageBox

namespace sorrel {

namespace {

// Buffer sizes of the window title and class name queries, terminating zero
// included.
constexpr int kTitleBuffer = 256;
constexpr int kClassNameBuffer = 50;

// A text that `query` (GetWindowTextA or GetClassNameA) copies into a
// buffer of `size` bytes.
template <typename Query>
Text Queried(Query query, HWND window, int size) {
  std::string buffer(static_cast<std::size_t>(size), '\0');
  const int length = query(window, buffer.data(), size);
  buffer.resize(length > 0 && length < size ? static_cast<std::size_t>(length) : 0);
  return buffer;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  WindowSystem::TopLevel entry;
  entry.info.handle = reinterpret_cast<WindowHandle>(window);
  entry.visible = IsWindowVisible(window) != FALSE;
  if (entry.visible) {
    DWORD processId = 0;
    entry.info.threadId = GetWindowThreadProcessId(window, &processId);
    entry.info.processId = processId;
    entry.info.title = Queried(GetWindowTextA, window, kTitleBuffer);
    entry.info.className = Queried(GetClassNameA, window, kClassNameBuffer);
  }
  reinterpret_cast<std::vector<WindowSystem::TopLevel>*>(list)->push_back(std::move(entry));
  return TRUE;
}

}  // namespace

// Hidden windows are listed too, as the interface asks, but only visible
// ones are queried further: their details are never used.
std::vector<WindowSystem::TopLevel> Win32WindowSystem::EnumerateTopLevelWindows() {
  std::vector<TopLevel> list;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&list));
  return list;
}

std::uint32_t Win32WindowSystem::CurrentProcessId() { return GetCurrentProcessId(); }

int Win32WindowSystem::MessageBox(WindowHandle owner, const Text& message, const Text& title,
                                  int style) {
  return MessageBoxA(reinterpret_cast<HWND>(owner), message.c_str(), title.c_str(),
                     static_cast<UINT>(style));
}

}  // namespace sorrel
