// The notice box's view of the desktop through EnumWindows, and the box
// itself, closed from a helper thread once it shows.
#include "support/windows_win32.h"

#include <gtest/gtest.h>
#include <windows.h>
#undef MessageBox

#include <atomic>
#include <string>
#include <thread>

#include "text/codepage.h"

namespace sorrel {
namespace {

constexpr const char* kClass = "SorrelNoticeTestWindowWithAClassNameLongerThanFortyNine";

class TopLevelWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClass;
    RegisterClassA(&windowClass);
  }
  ~TopLevelWindows() override {
    for (HWND window : windows_) DestroyWindow(window);
  }
  HWND Make(const Text& title, bool visible) {
    HWND window = CreateWindowExA(0, kClass, title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
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
  Make("hidden", false);
  EXPECT_TRUE(Ours().empty());
  EXPECT_EQ(FindOwnWindow(system_, GetCurrentProcessId()), 0u);
}

TEST_F(TopLevelWindows, VisibleWindowsAreListedWithTheirDetails) {
  const HWND titled = Make(GbkFromUtf8("友情提醒窗口"), true);
  const HWND untitled = Make("", true);
  const HWND longTitle = Make(std::string(300, 'x'), true);
  Make("hidden", false);
  const std::vector<WindowInfo> ours = Ours();
  ASSERT_EQ(ours.size(), 3u);
  for (const WindowInfo& info : ours) {
    EXPECT_EQ(info.threadId, GetCurrentThreadId());
    EXPECT_EQ(info.className, std::string(kClass).substr(0, 49));
    const HWND window = reinterpret_cast<HWND>(info.handle);
    if (window == titled) EXPECT_EQ(info.title, GbkFromUtf8("友情提醒窗口"));
    if (window == untitled) EXPECT_EQ(info.title, "");
    if (window == longTitle) EXPECT_EQ(info.title, std::string(255, 'x'));
  }
  EXPECT_EQ(FindOwnWindow(system_, GetCurrentProcessId()), ours.front().handle);
  EXPECT_EQ(FindOwnWindow(system_, GetCurrentProcessId() + 4), 0u);
}

// Presses OK on the first box titled `title` that appears within ten
// seconds, and notes its owner.
class BoxCloser {
 public:
  explicit BoxCloser(Text title)
      : thread_([this, title = std::move(title)] {
          for (int i = 0; i < 200 && !stop_; ++i) {
            if (HWND box = FindWindowA("#32770", title.c_str())) {
              owner_ = GetWindow(box, GW_OWNER);
              PostMessageA(box, WM_COMMAND, IDOK, 0);
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
    if (thread_.joinable()) thread_.join();
    return owner_;
  }

 private:
  std::atomic<bool> stop_{false};
  HWND owner_ = nullptr;
  std::thread thread_;
};

TEST_F(TopLevelWindows, NoticeIsOwnedByTheProgramsWindowAndOkGivesZero) {
  const HWND main = Make("main", true);
  BoxCloser closer(GbkFromUtf8("友情提醒"));
  EXPECT_EQ(ShowNotice(system_, GbkFromUtf8("参数有误")), 0);
  EXPECT_EQ(closer.Owner(), main);
}

TEST_F(TopLevelWindows, NoticeWithoutAVisibleWindowHasNoOwner) {
  Make("hidden", false);
  BoxCloser closer("plain");
  EXPECT_EQ(ShowNotice(system_, "text", 0, Text("plain")), 0);
  EXPECT_EQ(closer.Owner(), nullptr);
}

}  // namespace
}  // namespace sorrel
