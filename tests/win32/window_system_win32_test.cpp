// The notice box's view of the desktop through EnumWindows, and the box
// itself, closed from a helper thread once it shows. The windows here are
// made and read through the W functions, so the Chinese texts must cross
// the program's code page 936 edge the same under any system code page.
#include "support/window_system_win32.h"

#include <gtest/gtest.h>
#include <windows.h>
#undef MessageBox

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "support/notice.h"

namespace sorrel {
namespace {

// `head` followed by `part` `times` times.
std::string Repeat(const std::string& head, const std::string& part, int times) {
  std::string out = head;
  for (int i = 0; i < times; ++i) out += part;
  return out;
}

constexpr const wchar_t* kClass = L"SorrelNoticeTestWindowWithAClassNameLongerThanFortyNine";

class TopLevelWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClass;
    RegisterClassW(&windowClass);
  }
  ~TopLevelWindows() override {
    for (HWND window : windows_) DestroyWindow(window);
  }
  HWND Make(const std::wstring& title, bool visible) {
    HWND window = CreateWindowExW(0, kClass, title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (visible) ShowWindow(window, SW_SHOWNOACTIVATE);
    windows_.push_back(window);
    return window;
  }
  std::vector<WindowInfo> Ours() {
    std::vector<WindowInfo> list;
    ListVisibleWindows(system_, list);
    std::vector<WindowInfo> ours;
    for (const WindowInfo& info : list) {
      if (info.processId == GetCurrentProcessId()) ours.push_back(info);
    }
    return ours;
  }

  Win32WindowSystem system_;
  std::vector<HWND> windows_;
};

TEST_F(TopLevelWindows, HiddenWindowsAreNotOwners) {
  Make(L"hidden", false);
  EXPECT_TRUE(Ours().empty());
  EXPECT_EQ(FindOwnWindow(system_, GetCurrentProcessId()), 0u);
}

TEST_F(TopLevelWindows, VisibleWindowsAreListedWithTheirDetails) {
  // Titles are cut to 255 bytes of code page 936 text, never inside a
  // character: 127 two-byte characters of a longer Chinese title.
  const std::map<HWND, Text> titles = {
      {Make(L"友情提醒窗口", true), "\xD3\xD1\xC7\xE9\xCC\xE1\xD0\xD1\xB4\xB0\xBF\xDA"},
      {Make(L"", true), ""},
      {Make(std::wstring(300, L'x'), true), std::string(255, 'x')},
      {Make(L"a" + std::wstring(200, L'验'), true), Repeat("a", "\xD1\xE9", 127)},
  };
  Make(L"hidden", false);
  const std::vector<WindowInfo> ours = Ours();
  ASSERT_EQ(ours.size(), titles.size());
  for (const WindowInfo& info : ours) {
    EXPECT_EQ(info.threadId, GetCurrentThreadId());
    EXPECT_EQ(info.className, "SorrelNoticeTestWindowWithAClassNameLongerThanFor");
    EXPECT_EQ(info.title, titles.at(reinterpret_cast<HWND>(info.handle)));
  }
  EXPECT_EQ(FindOwnWindow(system_, GetCurrentProcessId()), ours.front().handle);
  EXPECT_EQ(FindOwnWindow(system_, GetCurrentProcessId() + 4), 0u);
}

// Presses OK on the first message box of this process that appears within
// ten seconds, and notes its owner, title and message.
class BoxCloser {
 public:
  BoxCloser()
      : thread_([this] {
          for (int i = 0; i < 200 && !stop_; ++i) {
            if (HWND box = FindBox()) {
              owner_ = GetWindow(box, GW_OWNER);
              wchar_t title[256] = {};
              GetWindowTextW(box, title, 256);
              title_ = title;
              EnumChildWindows(box, ReadMessage, reinterpret_cast<LPARAM>(&message_));
              PostMessageW(box, WM_COMMAND, IDOK, 0);
              return;
            }
            Sleep(50);
          }
        }) {}
  ~BoxCloser() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  HWND Owner() {
    Wait();
    return owner_;
  }
  std::wstring Title() {
    Wait();
    return title_;
  }
  std::wstring Message() {
    Wait();
    return message_;
  }

 private:
  // The box's message is the text of its one static control that has text.
  void Wait() {
    if (thread_.joinable()) thread_.join();
  }
  static HWND FindBox() {
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
      DWORD processId = 0;
      GetWindowThreadProcessId(box, &processId);
      if (processId == GetCurrentProcessId() && IsWindowVisible(box)) return box;
    }
    return nullptr;
  }
  static BOOL CALLBACK ReadMessage(HWND child, LPARAM message) {
    wchar_t text[256] = {};
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Static") != 0 || GetWindowTextW(child, text, 256) == 0) return TRUE;
    *reinterpret_cast<std::wstring*>(message) = text;
    return FALSE;
  }

  std::atomic<bool> stop_{false};
  HWND owner_ = nullptr;
  std::wstring title_;
  std::wstring message_;
  std::thread thread_;
};

TEST_F(TopLevelWindows, NoticeIsOwnedByTheProgramsWindowAndOkGivesZero) {
  const HWND main = Make(L"main", true);
  BoxCloser closer;
  EXPECT_EQ(ShowNotice(system_, "\xB2\xCE\xCA\xFD\xD3\xD0\xCE\xF3"), 0);
  EXPECT_EQ(closer.Owner(), main);
  EXPECT_EQ(closer.Title(), L"友情提醒");
  EXPECT_EQ(closer.Message(), L"参数有误");
}

TEST_F(TopLevelWindows, NoticeWithoutAVisibleWindowHasNoOwner) {
  Make(L"hidden", false);
  BoxCloser closer;
  EXPECT_EQ(ShowNotice(system_, "text", 0, Text("plain")), 0);
  EXPECT_EQ(closer.Owner(), nullptr);
  EXPECT_EQ(closer.Title(), L"plain");
}

}  // namespace
}  // namespace sorrel
