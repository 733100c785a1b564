// The notice box and the own-window lookup over a fake desktop.
#include "support/notice.h"

#include <gtest/gtest.h>

#include "text/codepage.h"

namespace sorrel {
namespace {

constexpr std::uint32_t kOwnProcess = 4242;

struct BoxCall {
  WindowHandle owner;
  Text message;
  Text title;
  int style;
};

class FakeDesktop : public WindowSystem {
 public:
  std::vector<TopLevel> EnumerateTopLevelWindows() override {
    ++enumerations;
    return windows;
  }
  std::uint32_t CurrentProcessId() override { return kOwnProcess; }
  int MessageBox(WindowHandle owner, const Text& message, const Text& title, int style) override {
    boxes.push_back({owner, message, title, style});
    return answer;
  }

  void Add(WindowHandle handle, std::uint32_t process, bool visible, Text title = "t") {
    TopLevel window;
    window.info.handle = handle;
    window.info.processId = process;
    window.info.threadId = 7;
    window.info.title = std::move(title);
    window.info.className = "Class";
    window.visible = visible;
    windows.push_back(window);
  }

  std::vector<TopLevel> windows;
  std::vector<BoxCall> boxes;
  int answer = 1;
  int enumerations = 0;
};

TEST(ListVisibleWindowsTest, KeepsVisibleWindowsInOrderAndReplacesTheList) {
  FakeDesktop desktop;
  desktop.Add(10, 1, true, "first");
  desktop.Add(11, kOwnProcess, false);
  desktop.Add(12, kOwnProcess, true, "");
  desktop.Add(13, 2, true, std::string(300, 'x'));
  desktop.windows[3].info.className = std::string(80, 'c');

  std::vector<WindowInfo> list(5);
  ListVisibleWindows(desktop, list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].handle, 10u);
  EXPECT_EQ(list[0].title, "first");
  EXPECT_EQ(list[0].threadId, 7u);
  EXPECT_EQ(list[1].handle, 12u);
  EXPECT_EQ(list[1].title, "");
  EXPECT_EQ(list[1].processId, kOwnProcess);
  EXPECT_EQ(list[2].title, std::string(255, 'x'));
  EXPECT_EQ(list[2].className, std::string(49, 'c'));

  desktop.windows.clear();
  ListVisibleWindows(desktop, list);
  EXPECT_TRUE(list.empty());
}

TEST(FindOwnWindowTest, FirstVisibleWindowOfTheProcess) {
  struct Case {
    std::string name;
    std::vector<std::tuple<WindowHandle, std::uint32_t, bool>> windows;
    WindowHandle expected;
  };
  const std::vector<Case> cases = {
      {"none at all", {}, 0},
      {"all own windows hidden", {{1, kOwnProcess, false}, {2, 9, true}}, 0},
      {"other processes only", {{1, 8, true}, {2, 9, true}}, 0},
      {"first of several", {{1, 8, true}, {2, kOwnProcess, true}, {3, kOwnProcess, true}}, 2},
      {"hidden one skipped", {{5, kOwnProcess, false}, {6, kOwnProcess, true}}, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    for (const auto& [handle, process, visible] : c.windows) desktop.Add(handle, process, visible);
    EXPECT_EQ(FindOwnWindow(desktop, kOwnProcess), c.expected);
  }
}

TEST(ShowNoticeTest, DefaultsAreInformationStyleFixedTitleAndOwnWindow) {
  FakeDesktop desktop;
  desktop.Add(1, 3, true);
  desktop.Add(77, kOwnProcess, true);
  EXPECT_EQ(ShowNotice(desktop, "hello"), 0);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].owner, 77u);
  EXPECT_EQ(desktop.boxes[0].message, "hello");
  EXPECT_EQ(desktop.boxes[0].title, Utf8ToGbk("友情提醒"));
  EXPECT_EQ(desktop.boxes[0].style, 64);
}

TEST(ShowNoticeTest, WithoutAVisibleOwnWindowTheBoxHasNoOwner) {
  FakeDesktop desktop;
  desktop.Add(77, kOwnProcess, false);
  ShowNotice(desktop, "m");
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].owner, 0u);
}

TEST(ShowNoticeTest, GivenArgumentsAreUsedAndTheOwnerLookupSkipped) {
  FakeDesktop desktop;
  desktop.Add(77, kOwnProcess, true);
  desktop.answer = 7;
  EXPECT_EQ(ShowNotice(desktop, "m", 0x24, Text("T"), WindowHandle{0}), 6);
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].owner, 0u);
  EXPECT_EQ(desktop.boxes[0].title, "T");
  EXPECT_EQ(desktop.boxes[0].style, 0x24);
  EXPECT_EQ(desktop.enumerations, 0);

  EXPECT_EQ(ShowNotice(desktop, "m", {}, Text()), 6);
  EXPECT_EQ(desktop.boxes[1].title, "");
  EXPECT_EQ(desktop.boxes[1].owner, 77u);
}

TEST(ShowNoticeTest, AFailedBoxGivesMinusOne) {
  FakeDesktop desktop;
  desktop.answer = 0;
  EXPECT_EQ(ShowNotice(desktop, "m"), -1);
}

}  // namespace
}  // namespace sorrel
