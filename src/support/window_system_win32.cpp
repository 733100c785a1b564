#include "support/window_system_win32.h"

#include <windows.h>
// The interface's member, not the header's alias of MessageBoxA/W.
#undef MessageBox

#include <string>

#include "text/wide_win32.h"

namespace sorrel {

namespace {

// Buffer sizes of the window title and class name queries, terminating zero
// included: the texts hold at most one byte less.
constexpr int kTitleBuffer = 256;
constexpr int kClassNameBuffer = 50;

// The code page 936 text that `query` (GetWindowTextW or GetClassNameW)
// reads, cut to fit a buffer of `size` bytes without splitting a character.
template <typename Query>
Text Queried(Query query, HWND window, int size) {
  std::wstring buffer(static_cast<std::size_t>(size), L'\0');
  const int length = query(window, buffer.data(), size);
  buffer.resize(length > 0 && length < size ? static_cast<std::size_t>(length) : 0);
  Text text = WideToGbk(buffer);
  const std::size_t limit = static_cast<std::size_t>(size) - 1;
  std::size_t end = 0;
  while (end < text.size()) {
    const unsigned char byte = static_cast<unsigned char>(text[end]);
    const std::size_t next = end + (byte >= 0x81 && byte <= 0xFE ? 2 : 1);
    if (next > limit) break;
    end = next;
  }
  text.resize(end);
  return text;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  WindowSystem::TopLevel entry;
  entry.info.handle = reinterpret_cast<WindowHandle>(window);
  entry.visible = IsWindowVisible(window) != FALSE;
  if (entry.visible) {
    DWORD processId = 0;
    entry.info.threadId = GetWindowThreadProcessId(window, &processId);
    entry.info.processId = processId;
    entry.info.title = Queried(GetWindowTextW, window, kTitleBuffer);
    entry.info.className = Queried(GetClassNameW, window, kClassNameBuffer);
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
  return MessageBoxW(reinterpret_cast<HWND>(owner), GbkToWide(message).c_str(),
                     GbkToWide(title).c_str(), static_cast<UINT>(style));
}

}  // namespace sorrel
