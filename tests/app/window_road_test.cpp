// The real window against the demo service, driven through its controls the
// way a user drives it: type, click, read the result box, close the boxes.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "app/qt/application.h"
#include "app/window_test_support.h"
#include "sim/sim_process.h"
#include "support/windows_qt.h"

namespace sorrel {

namespace {

HttpStack& Stack() { return test::WindowStack(); }
using test::Utf8;

// Closes the next modal box that opens, noting its title and text.
struct BoxCloser {
  QString title;
  QString text;
  int closed = 0;
  QObject guard;  // owns the polls, so none outlives the closer

  void Arm() {
    QTimer::singleShot(20, &guard, [this] { Poll(); });
  }
  void Poll() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      title = box->windowTitle();
      text = box->text();
      ++closed;
      box->button(QMessageBox::Ok)->click();
      return;
    }
    QTimer::singleShot(20, &guard, [this] { Poll(); });
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace

class WindowRoadTest : public QObject {
  Q_OBJECT

 private slots:
  void resolvesThroughClicks() {
    const std::string log = QDir::tempPath().toStdString() + "/sorrel-window-road.log";
    std::remove(log.c_str());
    test::SimProcess sim({"--test-mode", "--fixed-code", "k7p2", "--request-log", log});
    QVERIFY2(sim.ok(), sim.error().c_str());
    ProcessCookieStore().Clear();
    QtWindowSystem windows;
    Application program(Stack(), windows, sim.baseUrl());
    MainWindow& window = program.Window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    QCOMPARE(ReadFile(log), std::string());

    auto* address = qobject_cast<QLineEdit*>(window.Control("EditBox1"));
    auto* captcha = qobject_cast<QLineEdit*>(window.Control("EditBox3"));
    auto* result = qobject_cast<QPlainTextEdit*>(window.Control("EditBox2"));
    auto* picture = qobject_cast<QLabel*>(window.Control("PicBox1"));
    auto* resolve = qobject_cast<QPushButton*>(window.Control("Button1"));
    auto* refresh = qobject_cast<QPushButton*>(window.Control("Button2"));

    QTest::keyClicks(address, QString::fromStdString(sim.url("/file/83264445")));
    QTest::mouseClick(refresh, Qt::LeftButton);
    QVERIFY(!picture->pixmap().isNull());
    QVERIFY(ReadFile(log).find("/file/83264445") != std::string::npos);

    // A wrong captcha first: the box says so, a new picture comes.
    QTest::keyClicks(captcha, "wxyz");
    BoxCloser closer;
    closer.Arm();
    QTest::mouseClick(resolve, Qt::LeftButton);
    QCOMPARE(closer.closed, 1);
    QCOMPARE(closer.title, Utf8("信息："));
    QCOMPARE(closer.text, Utf8("验证码输入错误，请重新输入。"));
    QVERIFY(resolve->isEnabled());
    QCOMPARE(resolve->text(), Utf8("获取下载地址"));
    QVERIFY(result->toPlainText().isEmpty());

    captcha->clear();
    QTest::keyClicks(captcha, "K7P2");
    QTest::mouseClick(resolve, Qt::LeftButton);
    const QString shown = result->toPlainText();
    QVERIFY2(shown.startsWith(Utf8("普通下载地址：\n\n") + QString::fromStdString(sim.baseUrl())),
             qPrintable(shown));
    QVERIFY(shown.contains(Utf8("\n\n迅雷下载地址：\n\nthunder://")));
    QVERIFY(shown.contains(Utf8("\n\n快车下载地址：\n\nflashget://")));
    QVERIFY(resolve->isEnabled());
    QCOMPARE(address->text(), QString::fromStdString(sim.url("/file/83264445")));

    // For the README: SORREL_SCREENSHOT=path saves the window as it stands.
    const QByteArray screenshot = qgetenv("SORREL_SCREENSHOT");
    if (!screenshot.isEmpty()) QVERIFY(window.grab().save(QString::fromLocal8Bit(screenshot)));
  }

  void emptyAddressRefreshEndsWithAnEmptyPictureAndNoBox() {
    QtWindowSystem windows;
    Application program(Stack(), windows, "http://127.0.0.1:9");
    MainWindow& window = program.Window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(qobject_cast<QPushButton*>(window.Control("Button2")), Qt::LeftButton);
    QVERIFY(qobject_cast<QLabel*>(window.Control("PicBox1"))->pixmap().isNull());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
  }

  void emptyCaptchaShowsTheInputNotice() {
    QtWindowSystem windows;
    Application program(Stack(), windows, "http://127.0.0.1:9");
    MainWindow& window = program.Window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BoxCloser closer;
    closer.Arm();
    QTest::mouseClick(qobject_cast<QPushButton*>(window.Control("Button1")), Qt::LeftButton);
    QCOMPARE(closer.closed, 1);
    QCOMPARE(closer.text, Utf8("地址或验证码不得为空"));
  }
};

}  // namespace sorrel

QTEST_MAIN(sorrel::WindowRoadTest)
#include "window_road_test.moc"
