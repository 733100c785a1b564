// The Qt window system on the offscreen platform: the application's top-level
// widgets as the desktop's windows, and notice boxes closed by the test.
#include "support/window_system_qt.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "support/notice.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QWidget* parent = nullptr;
};

class WindowsQtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "window_system_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  // Once a message box shows, records it and lets `answer` close it.
  void AnswerNextBox(std::function<void(QMessageBox*)> answer) {
    auto* timer = new QTimer;
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [this, timer, ticks, answer] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible()) continue;
        seen_ = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                 box->parentWidget()};
        timer->deleteLater();
        answer(box);
        return;
      }
      if (++*ticks == 1000) {
        ADD_FAILURE() << "no message box appeared";
        timer->deleteLater();
      }
    });
    timer->start(5);
  }
  static void Press(QMessageBox* box, QMessageBox::StandardButton button) {
    box->button(button)->click();
  }

  static QApplication* app_;
  QtWindowSystem windows_;
  SeenBox seen_;
};

QApplication* WindowsQtTest::app_ = nullptr;

TEST_F(WindowsQtTest, ListsTopLevelWidgetsWithTheirVisibility) {
  QWidget main;
  main.setWindowTitle(QString::fromUtf8("主窗口"));
  main.show();
  QWidget hidden;
  hidden.setWindowTitle("hidden");
  QMainWindow later;
  later.show();

  const auto all = windows_.EnumerateTopLevelWindows();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].info.handle, reinterpret_cast<WindowHandle>(&main));
  EXPECT_TRUE(all[0].visible);
  EXPECT_EQ(all[0].info.title, Utf8ToGbk("主窗口"));
  EXPECT_EQ(all[0].info.className, "QWidget");
  EXPECT_EQ(all[0].info.processId, static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(all[1].info.handle, reinterpret_cast<WindowHandle>(&later));
  EXPECT_EQ(all[1].info.className, "QMainWindow");
  EXPECT_TRUE(all[1].visible);
  EXPECT_EQ(all[2].info.handle, reinterpret_cast<WindowHandle>(&hidden));
  EXPECT_FALSE(all[2].visible);

  const auto pid = windows_.CurrentProcessId();
  EXPECT_EQ(FindOwnWindow(windows_, pid), reinterpret_cast<WindowHandle>(&main));
  main.hide();
  EXPECT_EQ(FindOwnWindow(windows_, pid), reinterpret_cast<WindowHandle>(&later));
  later.hide();
  EXPECT_EQ(FindOwnWindow(windows_, pid), 0u);
  EXPECT_EQ(FindOwnWindow(windows_, pid + 1), 0u);
}

TEST_F(WindowsQtTest, NoticeIsOwnedByTheMainWindowWithTheDefaultLook) {
  QWidget main;
  main.show();
  AnswerNextBox([](QMessageBox* box) { Press(box, QMessageBox::Ok); });
  EXPECT_EQ(ShowNotice(windows_, Utf8ToGbk("参数错误")), 0);
  EXPECT_EQ(seen_.title, QString::fromUtf8("友情提醒"));
  EXPECT_EQ(seen_.text, QString::fromUtf8("参数错误"));
  EXPECT_EQ(seen_.icon, QMessageBox::Information);
  EXPECT_EQ(seen_.buttons, QMessageBox::Ok);
  EXPECT_EQ(seen_.parent, &main);
}

TEST_F(WindowsQtTest, WithEveryWindowHiddenTheNoticeHasNoOwner) {
  QWidget main;
  AnswerNextBox([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(ShowNotice(windows_, "m"), 0);
  EXPECT_EQ(seen_.parent, nullptr);
}

TEST_F(WindowsQtTest, StyleChoosesIconAndButtonsAndTheAnswer) {
  struct Case {
    int style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int result;
  };
  const std::vector<Case> cases = {
      {kMbYesNo | kMbIconQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::No, kIdNo - 1},
      {kMbOkCancel | kMbIconExclamation, QMessageBox::Warning,
       QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, kIdCancel - 1},
      {kMbRetryCancel | kMbIconHand, QMessageBox::Critical,
       QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry, kIdRetry - 1},
      {kMbOk, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, kIdOk - 1},
  };
  QWidget main;
  main.show();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    AnswerNextBox([&c](QMessageBox* box) { Press(box, c.press); });
    EXPECT_EQ(ShowNotice(windows_, "m", c.style, Text("T")), c.result);
    EXPECT_EQ(seen_.title, "T");
    EXPECT_EQ(seen_.icon, c.icon);
    EXPECT_EQ(seen_.buttons, c.buttons);
  }
}

TEST_F(WindowsQtTest, EscapeAnswersCancelAndAnUnknownOwnerIsIgnored) {
  AnswerNextBox([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(windows_.MessageBox(0x1234, "m", "t", kMbOkCancel), kIdCancel);
  EXPECT_EQ(seen_.parent, nullptr);
}

}  // namespace
}  // namespace sorrel
