// The window's keys, clicks, pastes and clipboard against the demo service:
// each key and click makes exactly the requests of its button (the service's
// request log is the judge), a pasted link needs no request at all.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <functional>

#include "window_test_support.h"

namespace sorrel {

namespace {

using test::BoxAnswerer;
using test::Utf8;

const char* const kDecoded =
    "普通下载地址：\n\nhttp://dl.example/f/a.zip\n\n"
    "迅雷下载地址：\n\nthunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=\n\n"
    "快车下载地址：\n\n"
    "flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel";

using Harness = test::SimWindow;

}  // namespace

class WindowKeysTest : public QObject {
  Q_OBJECT

 private slots:
  void keysAndPictureClickMakeTheButtonsRequests() {
    Harness h;
    QVERIFY2(h.sim.ok(), h.sim.error().c_str());
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    QTest::keyClicks(h.address, h.FileUrl());

    const QStringList byButton =
        h.RequestsOf([&] { QTest::mouseClick(h.refresh, Qt::LeftButton); });
    QCOMPARE(byButton.size(), 2);
    QVERIFY(byButton[0].startsWith("GET /file/83264445 "));

    const std::vector<std::pair<const char*, std::function<void()>>> refreshes = {
        {"F5 in the captcha box", [&] { QTest::keyClick(h.captcha, Qt::Key_F5); }},
        {"F5 in the result box", [&] { QTest::keyClick(h.result, Qt::Key_F5); }},
        {"Enter in the address box", [&] { QTest::keyClick(h.address, Qt::Key_Return); }},
        {"a click on the picture",
         [&] { QTest::mouseClick(h.picture, Qt::LeftButton, {}, QPoint(20, 20)); }},
    };
    for (const auto& [name, action] : refreshes) {
      h.captcha->setText("old");
      h.address->setFocus();
      QCOMPARE(h.RequestsOf(action), byButton);
      QVERIFY2(!h.picture->pixmap().isNull(), name);
      // A new captcha: its box is emptied and has the focus.
      QVERIFY2(h.captcha->text().isEmpty(), name);
      QCOMPARE(QApplication::focusWidget(), h.captcha);
    }

    // A held Enter starts nothing beyond its first press.
    QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QVERIFY(h.RequestsOf([&] { QApplication::sendEvent(h.captcha, &repeated); }).isEmpty());

    // A wrong captcha, once by the button and once by Enter.
    QStringList wrong[2];
    for (int run = 0; run < 2; ++run) {
      QTest::keyClicks(h.captcha, "wxyz");
      BoxAnswerer closer;
      wrong[run] = h.RequestsOf([&] {
        if (run == 0)
          QTest::mouseClick(h.resolve, Qt::LeftButton);
        else
          QTest::keyClick(h.captcha, Qt::Key_Enter);
      });
      QCOMPARE(closer.texts, QStringList{Utf8("验证码输入错误，请重新输入。")});
    }
    QCOMPARE(wrong[1], wrong[0]);
    QVERIFY(wrong[0].contains("POST /guest_loginV2.php HTTP/1.1"));

    QTest::keyClicks(h.captcha, "K7P2");
    QTest::keyClick(h.captcha, Qt::Key_Return);
    QVERIFY(h.result->toPlainText().startsWith(Utf8("普通下载地址：\n\n") +
                                               QString::fromStdString(h.sim.baseUrl())));
    // The result box shows the start of its text.
    QCOMPARE(h.result->textCursor().position(), 0);
    QCOMPARE(h.result->verticalScrollBar()->value(), 0);
  }

  void keysWaitForTheRunUnderWay() {
    Harness h({"--fault", "delay:400@/file/83264445"});
    QVERIFY2(h.sim.ok(), h.sim.error().c_str());
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    QTest::keyClicks(h.address, h.FileUrl());
    h.captcha->setText("k7p2");
    // Pressed while the page is on its way: none of them starts a run.
    int fired = 0;
    for (int delay : {100, 150, 200, 250}) {
      QTimer::singleShot(delay, [&, delay] {
        ++fired;
        if (delay == 100) QTest::keyClick(h.captcha, Qt::Key_F5);
        if (delay == 150) QTest::keyClick(h.address, Qt::Key_Return);
        if (delay == 200) QTest::mouseClick(h.picture, Qt::LeftButton);
        if (delay == 250) QTest::keyClick(h.captcha, Qt::Key_Return);
      });
    }
    const QStringList asked = h.RequestsOf([&] { QTest::keyClick(h.result, Qt::Key_F5); });
    QCOMPARE(fired, 4);
    QCOMPARE(asked.size(), 2);
    QVERIFY(asked[0].startsWith("GET /file/83264445 "));
  }

  void tabFollowsTheRoad() {
    MainWindow window("http://svc.example");
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.Control("EditBox1")->setFocus();
    QStringList order{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 4; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      order << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(order, (QStringList{"EditBox1", "Button2", "EditBox3", "Button1", "EditBox2"}));
  }

  void pastedLinksShowTheirAddressesWithoutARequest() {
    Harness h;
    QVERIFY2(h.sim.ok(), h.sim.error().c_str());
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    const char* const links[] = {
        "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=",
        "flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel",
        "QQDL://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA",
    };
    BoxAnswerer closer;
    for (const char* link : links) {
      h.result->clear();
      h.address->clear();
      h.address->setFocus();
      QGuiApplication::clipboard()->setText(QString::fromLatin1(link));
      QVERIFY(h.RequestsOf([&] {
                 QTest::keyClick(h.address, Qt::Key_V, Qt::ControlModifier);
               }).isEmpty());
      QCOMPARE(h.result->toPlainText(), Utf8(kDecoded));
    }
    QCOMPARE(h.program.State().NormalLink, Text("http://dl.example/f/a.zip"));

    // A link wrapped around code page 936 bytes.
    QGuiApplication::clipboard()->setText("thunder://QUFodHRwOi8vZGwuZXhhbXBsZS/OxLz+LnppcFpa");
    h.address->selectAll();
    QTest::keyClick(h.address, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(
        h.result->toPlainText().startsWith(Utf8("普通下载地址：\n\nhttp://dl.example/文件.zip\n")));
    // Its own form stays as pasted; the other is made from the address.
    QVERIFY(h.result->toPlainText().contains(
        "\n\nthunder://QUFodHRwOi8vZGwuZXhhbXBsZS/OxLz+LnppcFpa\n\n"));
    QVERIFY(h.result->toPlainText().endsWith(
        "flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL+aWh+S7ti56aXBbRkxBU0hHRVRd&sorrel"));

    // Typed key by key it waits for Enter.
    h.result->clear();
    h.address->clear();
    QTest::keyClicks(h.address, QString::fromLatin1(links[2]));
    QVERIFY(h.result->toPlainText().isEmpty());
    QVERIFY(h.RequestsOf([&] { QTest::keyClick(h.address, Qt::Key_Return); }).isEmpty());
    QCOMPARE(h.result->toPlainText(), Utf8(kDecoded));
    QVERIFY(closer.texts.isEmpty());

    // A broken link: one notice, nothing else changes.
    h.address->clear();
    QGuiApplication::clipboard()->setText("thunder://QUF!!");
    QVERIFY(h.RequestsOf([&] {
               QTest::keyClick(h.address, Qt::Key_V, Qt::ControlModifier);
             }).isEmpty());
    QTRY_COMPARE(closer.texts, QStringList{Utf8("无法识别的链接：链接里的 Base64 编码有误。")});
    QCOMPARE(h.result->toPlainText(), Utf8(kDecoded));
    QVERIFY(h.picture->pixmap().isNull());
  }

  void menuKeysOpenTheToolsMenuInTheResultBox() {
    Harness h;
    QVERIFY2(h.sim.ok(), h.sim.error().c_str());
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    QVERIFY(h.window.OpenAddress("qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA=="));
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Menu, Qt::NoModifier},
                                                              {Qt::Key_F10, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : keys) {
      QGuiApplication::clipboard()->setText("before");
      h.result->setFocus();
      QTest::keyClick(h.result, key, modifiers);
      const QList<QMenu*> menus = h.result->findChildren<QMenu*>("ResultMenu");
      QCOMPARE(menus.size(), 1);
      QMenu* menu = menus[0];
      QTRY_VERIFY(menu->isVisible());
      QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, Qt::Key_Return);
      QCOMPARE(QGuiApplication::clipboard()->text(), QString("http://dl.example/f/a.zip"));
      QTRY_VERIFY(h.result->findChildren<QMenu*>("ResultMenu").isEmpty());
    }
  }

  void openAddressTakesLinksAndPagesAndNamesTheRest() {
    Harness h;
    QVERIFY2(h.sim.ok(), h.sim.error().c_str());
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    BoxAnswerer closer;
    QStringList asked = h.RequestsOf([&] { QVERIFY(h.window.OpenAddress("  " + h.FileUrl())); });
    QCOMPARE(asked.size(), 2);
    QCOMPARE(h.address->text(), h.FileUrl());
    QVERIFY(!h.picture->pixmap().isNull());

    asked = h.RequestsOf(
        [&] { QVERIFY(h.window.OpenAddress("qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA==")); });
    QVERIFY(asked.isEmpty());
    QCOMPARE(h.result->toPlainText(), Utf8(kDecoded));
    QCOMPARE(h.address->text(), QString("qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA=="));

    asked = h.RequestsOf([&] { QVERIFY(!h.window.OpenAddress("http://elsewhere.example/x")); });
    QVERIFY(asked.isEmpty());
    QTRY_COMPARE(closer.texts.size(), 1);
    QVERIFY(closer.texts[0].startsWith(Utf8("无法识别的链接：")));
    QCOMPARE(h.address->text(), QString("qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA=="));
  }

  void clipboardFillsOnceOnActivation() {
    Harness h;
    QVERIFY2(h.sim.ok(), h.sim.error().c_str());
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    QWidget other;
    other.show();
    QClipboard* clipboard = QGuiApplication::clipboard();
    // Leaves for the other window, lets `elsewhere` happen there, comes back.
    auto comeBack = [&](const std::function<void()>& elsewhere) {
      return h.RequestsOf([&] {
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        elsewhere();
        h.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.window));
        QTest::qWait(50);
      });
    };

    QStringList asked = comeBack([&] { clipboard->setText(h.FileUrl() + "\n"); });
    QCOMPARE(h.address->text(), h.FileUrl());
    QCOMPARE(asked.size(), 2);
    QVERIFY(asked[0].startsWith("GET /file/83264445 "));

    // The same text again, or text the window copied itself: nothing.
    QVERIFY(comeBack([] {}).isEmpty());
    h.address->clear();
    QVERIFY(comeBack([] {}).isEmpty());
    QVERIFY(h.address->text().isEmpty());
    h.program.Controller().CopyToClipboard(h.FileUrl("55").toStdU16String());
    QVERIFY(comeBack([] {}).isEmpty());
    // Copied inside the window by the user, then back from elsewhere.
    clipboard->setText(h.FileUrl("56"));
    QVERIFY(comeBack([] {}).isEmpty());
    // Text that is no address of the service.
    QVERIFY(comeBack([&] { clipboard->setText("http://elsewhere.example/file/1"); }).isEmpty());
    QVERIFY(comeBack([&] { clipboard->setText("thunder://QUF!!"); }).isEmpty());
    QVERIFY(h.address->text().isEmpty());

    // A wrapped link copied elsewhere is shown decoded, with no request.
    QVERIFY(comeBack([&] {
              clipboard->setText("thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=");
            }).isEmpty());
    QCOMPARE(h.result->toPlainText(), Utf8(kDecoded));
    QCOMPARE(h.address->text(), QString("thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo="));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
  }
};

}  // namespace sorrel

QTEST_MAIN(sorrel::WindowKeysTest)
#include "window_keys_test.moc"
