// The real window against the demo service, driven through its controls the
// way a user drives it: type, click, read the result box, close the boxes.
#include <QApplication>
#include <QTest>

#include "window_test_support.h"

namespace sorrel {

using test::BoxAnswerer;
using test::Controls;
using test::Utf8;

class WindowEndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void resolvesThroughClicks() {
    test::SimWindow w;
    QVERIFY2(w.sim.ok(), w.sim.error().c_str());
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QTest::qWait(50);
    QVERIFY(test::LoggedRequests(w.log).isEmpty());

    QTest::keyClicks(w.address, w.FileUrl());
    QTest::mouseClick(w.refresh, Qt::LeftButton);
    QVERIFY(!w.picture->pixmap().isNull());
    QVERIFY(test::LoggedRequests(w.log).join('\n').contains("/file/83264445"));

    // A wrong captcha first: the box says so, a new picture comes.
    QTest::keyClicks(w.captcha, "wxyz");
    {
      BoxAnswerer closer;
      QTest::mouseClick(w.resolve, Qt::LeftButton);
      QCOMPARE(closer.titles, QStringList{Utf8("信息：")});
      QCOMPARE(closer.texts, QStringList{Utf8("验证码输入错误，请重新输入。")});
    }
    QVERIFY(w.resolve->isEnabled());
    QCOMPARE(w.resolve->text(), Utf8("获取下载地址"));
    QVERIFY(w.result->toPlainText().isEmpty());

    w.captcha->clear();
    QTest::keyClicks(w.captcha, "K7P2");
    QTest::mouseClick(w.resolve, Qt::LeftButton);
    const QString shown = w.result->toPlainText();
    QVERIFY2(shown.startsWith(Utf8("普通下载地址：\n\n") + QString::fromStdString(w.sim.baseUrl())),
             qPrintable(shown));
    QVERIFY(shown.contains(Utf8("\n\n迅雷下载地址：\n\nthunder://")));
    QVERIFY(shown.contains(Utf8("\n\n快车下载地址：\n\nflashget://")));
    QVERIFY(w.resolve->isEnabled());
    QCOMPARE(w.address->text(), w.FileUrl());

    // For the README: SORREL_SCREENSHOT=path saves the window as it stands.
    const QByteArray screenshot = qgetenv("SORREL_SCREENSHOT");
    if (!screenshot.isEmpty()) QVERIFY(w.window.grab().save(QString::fromLocal8Bit(screenshot)));
  }

  void emptyAddressRefreshEndsWithAnEmptyPictureAndNoBox() {
    QtWindowSystem windows;
    Application program(test::WindowStack(), windows, "http://127.0.0.1:9");
    MainWindow& window = program.Window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(Controls(window).refresh, Qt::LeftButton);
    QVERIFY(Controls(window).picture->pixmap().isNull());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
  }

  void emptyCaptchaShowsTheInputNotice() {
    QtWindowSystem windows;
    Application program(test::WindowStack(), windows, "http://127.0.0.1:9");
    MainWindow& window = program.Window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BoxAnswerer closer;
    QTest::mouseClick(Controls(window).resolve, Qt::LeftButton);
    QCOMPARE(closer.texts, QStringList{Utf8("地址或验证码不得为空")});
  }
};

}  // namespace sorrel

QTEST_MAIN(sorrel::WindowEndToEndTest)
#include "window_end_to_end_test.moc"
