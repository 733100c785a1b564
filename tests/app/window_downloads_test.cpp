// The result box's menu and the downloads window, driven by clicks against
// the demo service and a private aria2c.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/qt/application.h"
#include "app/qt/downloads_window.h"
#include "app/window_test_support.h"
#include "sim/sim_process.h"
#include "support/windows_qt.h"

namespace sorrel {

namespace {

HttpStack& Stack() { return test::WindowStack(); }
using test::Utf8;

// A right click on the result box; the menu it opens.
QMenu* RightClick(MainWindow& window) {
  auto* box = qobject_cast<QPlainTextEdit*>(window.Control("EditBox2"));
  const QPoint at(20, 20);
  QContextMenuEvent click(QContextMenuEvent::Mouse, at, box->viewport()->mapToGlobal(at));
  QApplication::sendEvent(box->viewport(), &click);
  return box->findChild<QMenu*>("ResultMenu");
}

QAction* Item(QMenu* menu, const char* text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == Utf8(text)) return action;
  }
  return nullptr;
}

void Choose(QMenu* menu, const char* text) {
  QAction* action = Item(menu, text);
  QVERIFY2(action != nullptr, text);
  QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

// Answers the next modal box with `button`, noting its text.
struct BoxAnswer {
  QString text;
  int answered = 0;
  QMessageBox::StandardButton button = QMessageBox::Ok;
  QObject guard;  // owns the polls, so none outlives the answerer

  void Arm(QMessageBox::StandardButton with) {
    button = with;
    QTimer::singleShot(20, &guard, [this] { Poll(); });
  }
  void Poll() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      ++answered;
      box->button(button)->click();
      return;
    }
    QTimer::singleShot(20, &guard, [this] { Poll(); });
  }
};

struct Window {
  explicit Window(const test::SimProcess& sim) : program(Stack(), windows, sim.baseUrl()) {
    program.Window().show();
  }
  void Resolve(const std::string& page) {
    MainWindow& window = program.Window();
    QTest::keyClicks(qobject_cast<QLineEdit*>(window.Control("EditBox1")),
                     QString::fromStdString(page));
    QTest::mouseClick(qobject_cast<QPushButton*>(window.Control("Button2")), Qt::LeftButton);
    QTest::keyClicks(qobject_cast<QLineEdit*>(window.Control("EditBox3")), "k7p2");
    QTest::mouseClick(qobject_cast<QPushButton*>(window.Control("Button1")), Qt::LeftButton);
  }
  QtWindowSystem windows;
  Application program;
};

}  // namespace

class WindowDownloadsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    std::string content(50000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 97);
    content_ = content;
    file_ = home_.filePath(Utf8("样本 数据.bin"));
    std::ofstream(file_.toStdString(), std::ios::binary) << content;
  }

  void menuIsGreyWithoutAResult() {
    test::SimProcess sim({"--test-mode", "--fixed-code", "k7p2"});
    QVERIFY2(sim.ok(), sim.error().c_str());
    Window w(sim);
    QMenu* menu = RightClick(w.program.Window());
    QVERIFY(menu != nullptr);
    for (const char* text : {"复制普通下载地址", "复制迅雷下载地址", "复制快车下载地址",
                             "发送到 aria2 下载", "检查链接"}) {
      QVERIFY2(Item(menu, text) && !Item(menu, text)->isEnabled(), text);
    }
    QVERIFY(Item(menu, "下载设置...")->isEnabled());
    menu->close();
  }

  void copiesChecksAndSendsToAria2() {
    test::SimProcess sim(
        {"--test-mode", "--fixed-code", "k7p2", "--file", "99=" + file_.toStdString()});
    QVERIFY2(sim.ok(), sim.error().c_str());
    Window w(sim);
    MainWindow& window = w.program.Window();
    const QSize size = window.size();
    w.Resolve(sim.url("/file/99"));
    const QString result = qobject_cast<QPlainTextEdit*>(window.Control("EditBox2"))->toPlainText();
    QVERIFY2(result.contains("thunder://"), qPrintable(result));

    Choose(RightClick(window), "复制迅雷下载地址");
    const QString thunder = QApplication::clipboard()->text();
    QVERIFY(thunder.startsWith("thunder://"));
    QVERIFY(result.contains(Utf8("迅雷下载地址：\n\n") + thunder + "\n"));
    Choose(RightClick(window), "复制普通下载地址");
    QVERIFY(QApplication::clipboard()->text().startsWith(QString::fromStdString(sim.url("/dl/"))));

    BoxAnswer box;
    box.Arm(QMessageBox::Ok);
    Choose(RightClick(window), "检查链接");
    QTRY_COMPARE_WITH_TIMEOUT(box.answered, 1, 10000);
    QCOMPARE(box.text, Utf8("文件名：样本 数据.bin\n大小：48.8 KB\n状态：下载地址有效。"));

    // The settings, through their dialog: a folder of the test's own.
    const QString folder = home_.filePath("downloads");
    QTimer::singleShot(50, [folder] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->findChild<QLineEdit*>("DownloadFolder")->setText(folder);
      dialog->findChild<QLineEdit*>("Aria2Secret")->setText("unused");
      QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                        Qt::LeftButton);
    });
    Choose(RightClick(window), "下载设置...");
    QSettings stored(QSettings::IniFormat, QSettings::UserScope, "sorrel-resolver",
                     "sorrel-resolver");
    QCOMPARE(stored.value("aria2/folder").toString(), folder);
    QVERIFY(stored.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    QCOMPARE(std::filesystem::status(stored.fileName().toStdString()).permissions() &
                 std::filesystem::perms::all,
             std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    Choose(RightClick(window), "发送到 aria2 下载");
    DownloadsWindow* downloads = w.program.Menu().Downloads();
    QVERIFY(downloads != nullptr);
    QVERIFY(downloads->isVisible());
    QTableWidget* table = downloads->Table();
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, 15000);
    QCOMPARE(table->item(0, 0)->text(), Utf8("样本 数据.bin"));
    QTRY_COMPARE_WITH_TIMEOUT(table->item(0, 3)->text(), Utf8("已完成"), 20000);
    QCOMPARE(static_cast<QProgressBar*>(table->cellWidget(0, 1))->value(), 1000);
    QFile arrived(folder + Utf8("/样本 数据.bin"));
    QVERIFY(arrived.open(QIODevice::ReadOnly));
    QCOMPARE(arrived.readAll().toStdString(), content_);
    QCOMPARE(window.size(), size);
  }

  void anExpiredAddressOffersANewCaptcha() {
    test::SimProcess sim({"--test-mode", "--fixed-code", "k7p2", "--token-seconds", "0"});
    QVERIFY2(sim.ok(), sim.error().c_str());
    Window w(sim);
    MainWindow& window = w.program.Window();
    w.Resolve(sim.url("/file/12345678"));
    auto* address = qobject_cast<QLineEdit*>(window.Control("EditBox1"));
    const QString typed = address->text();
    const ByteSet before = window.Picture();
    BoxAnswer box;
    box.Arm(QMessageBox::Yes);
    Choose(RightClick(window), "检查链接");
    QTRY_COMPARE_WITH_TIMEOUT(box.answered, 1, 10000);
    QVERIFY2(box.text.contains(Utf8("状态：下载地址已过期，请重新获取。")), qPrintable(box.text));
    QTRY_VERIFY(window.Picture() != before);
    QCOMPARE(address->text(), typed);
  }

 private:
  QTemporaryDir home_;
  QString file_;
  std::string content_;
};

}  // namespace sorrel

int main(int argc, char** argv) {
  // The user's folders are the test's own: settings, engine session.
  static QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
  QApplication app(argc, argv);
  sorrel::WindowDownloadsTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "window_downloads_test.moc"
