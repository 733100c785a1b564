// The window under the offscreen platform: its controls, their shape and
// texts, and the binding of the two buttons.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/engines.h"
#include "app/qt/application.h"
#include "text/codepage.h"

namespace sorrel {

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  static QString Utf8(const char* text) { return QString::fromUtf8(text); }

 private slots:
  void controlsStandWhereTheyShould() {
    MainWindow window("http://127.0.0.1:8017");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.frameGeometry().size(), QSize(975, 432));
    QCOMPARE(window.windowTitle(),
             Utf8("Sorrel网盘下载地址解析工具【Orrinwood专版   www.sorrel-resolver.example】"));

    const QObjectList children = window.children();
    QStringList order;
    for (QObject* child : children) {
      if (child->isWidgetType()) order << child->objectName();
    }
    // Children run from the bottom of the stack to its top; the control
    // created first lies on top.
    QCOMPARE(order, (QStringList{"Button1", "EditBox2", "PicBox1", "Label1", "EditBox1", "Label2",
                                 "EditBox3", "Label3", "Button2", "Label4", "Label5"}));
    const struct {
      const char* name;
      QRect place;
      bool takesFocus;
    } controls[] = {
        {"Label5", QRect(200, 384, 224, 24), false},  {"Label4", QRect(0, 272, 424, 136), false},
        {"Button2", QRect(304, 72, 112, 32), true},   {"Label3", QRect(256, 112, 152, 32), false},
        {"EditBox3", QRect(304, 149, 112, 32), true}, {"Label2", QRect(256, 136, 112, 56), false},
        {"EditBox1", QRect(40, 16, 384, 32), true},   {"Label1", QRect(8, 16, 48, 32), false},
        {"PicBox1", QRect(40, 72, 200, 105), false},  {"EditBox2", QRect(432, 16, 536, 384), true},
        {"Button1", QRect(296, 224, 120, 40), true},
    };
    for (const auto& c : controls) {
      QWidget* control = window.Control(c.name);
      QVERIFY2(control, c.name);
      QCOMPARE(control->geometry(), c.place);
      QVERIFY(control->isVisible());
      QVERIFY(control->isEnabled());
      QCOMPARE(control->focusPolicy() != Qt::NoFocus, c.takesFocus);
    }
    // The credit line lies over the example text it overlaps.
    QCOMPARE(window.childAt(QPoint(210, 390)), window.Control("Label5"));
  }

  void textsAndColours() {
    MainWindow window("http://svc.example");
    auto text = [&](const char* name) {
      QWidget* w = window.Control(name);
      if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
      if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
      if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
      return qobject_cast<QPlainTextEdit*>(w)->toPlainText();
    };
    QCOMPARE(text("Button1"), Utf8("获取下载地址"));
    QCOMPARE(text("Button2"), Utf8("刷新验证码"));
    QCOMPARE(text("Label1"), Utf8("地址："));
    QCOMPARE(text("Label2"), Utf8("验证码："));
    QCOMPARE(text("Label3"), Utf8("请输入左边的验证码"));
    QCOMPARE(text("Label4"),
             Utf8("地址示例：\n\n    http://svc.example/file/83264445\n\n"
                  "    http://svc.example/file/83264445\n\n"
                  "    *目前Sorrel网盘的下载格式基本统一了，输入上面类型的地址基本不会出错."));
    QVERIFY(!text("Label5").isEmpty());
    QVERIFY(text("EditBox1").isEmpty());
    QVERIFY(text("EditBox2").isEmpty());
    QVERIFY(text("EditBox3").isEmpty());

    auto* label4 = qobject_cast<QLabel*>(window.Control("Label4"));
    QVERIFY(label4->wordWrap());
    QCOMPARE(label4->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(label4->palette().color(QPalette::Window), QColor(192, 192, 192));
    QCOMPARE(window.Control("Label5")->palette().color(QPalette::Window), QColor(128, 128, 128));

    auto* result = qobject_cast<QPlainTextEdit*>(window.Control("EditBox2"));
    QVERIFY(result->isReadOnly());
    QCOMPARE(result->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(result->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(result->textInteractionFlags() & Qt::TextSelectableByMouse);
    QVERIFY(qobject_cast<QLabel*>(window.Control("PicBox1"))->pixmap().isNull());
  }

  void resultBoxTakesNoTypingButCopies() {
    MainWindow window("http://svc.example");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.SetControlText(ControlRole::kResultBox, u"普通下载地址：\r\n\r\nhttp://a/b");
    auto* result = qobject_cast<QPlainTextEdit*>(window.Control("EditBox2"));
    result->setFocus();
    QTest::keyClicks(result, "typed");
    QCOMPARE(result->toPlainText(), Utf8("普通下载地址：\n\nhttp://a/b"));
    result->selectAll();
    QCOMPARE(result->textCursor().selectedText().size(), result->toPlainText().size());
  }

  void pictureBoxReadsBackWhatItShows() {
    Application program(PlatformEngines(), "http://svc.example");
    WindowController& controller = program.Controller();
    QVERIFY(controller.Picture().empty());
    // A 1x1 GIF.
    const ByteSet gif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
                         0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
                         0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};
    controller.SetPicture(gif);
    QCOMPARE(controller.Picture().size(), gif.size());
    // At the ordinary density the picture is shown as it came.
    auto* box = qobject_cast<QLabel*>(program.Window().Control("PicBox1"));
    QCOMPARE(box->pixmap().size(), QSize(1, 1));
    QCOMPARE(box->pixmap().devicePixelRatio(), 1.0);
    controller.SetPicture(BytesOf("<html>not a picture</html>"));
    QVERIFY(controller.Picture().empty());
    QVERIFY(box->pixmap().isNull());
  }

  void busyButtonShowsItsCaption() {
    Application program(PlatformEngines(), "http://svc.example");
    program.Controller().SetResolveButton(false, Utf8ToGbk("正在获取中..."));
    auto* button = qobject_cast<QPushButton*>(program.Window().Control("Button1"));
    QVERIFY(!button->isEnabled());
    QCOMPARE(button->text(), Utf8("正在获取中..."));
  }
};

}  // namespace sorrel

QTEST_MAIN(sorrel::MainWindowTest)
#include "main_window_test.moc"
