// The result box's menu and the downloads window, driven by clicks against
// the demo service and a private aria2c.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/qt/downloads_window.h"
#include "fake_aria2.h"
#include "window_test_support.h"

namespace sorrel {

namespace {

using test::BoxAnswerer;
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

// Makes the service's next login answer with `fault`.
void SetLoginFault(test::SimWindow& w, const char* fault) {
  QNetworkAccessManager network;
  const QUrl url(QString::fromStdString(
      w.sim.url(std::string("/__test/fault?path=/guest_loginV2.php&times=1&set=") + fault)));
  QNetworkReply* reply = network.get(QNetworkRequest(url));
  QEventLoop wait;
  QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
  wait.exec();
  QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
  reply->deleteLater();
}

void Choose(QMenu* menu, const char* text) {
  QAction* action = Item(menu, text);
  QVERIFY2(action != nullptr, text);
  QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

}  // namespace

class WindowDownloadsTest : public QObject {
  Q_OBJECT

 public slots:
  // The desktop's opener, for the files the downloads window opens.
  void Open(const QUrl& url) { opened_ << url; }

 private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    std::string content(50000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 97);
    content_ = content;
    file_ = home_.filePath(Utf8("样本 数据.bin"));
    std::ofstream(file_.toStdString(), std::ios::binary) << content;
  }

  void engineWordsAreShownAsWritten() {
    DownloadsWindow downloads;
    const std::string words = "<b>aria2</b> &amp; <img src=x>";
    Transfer transfer{"<i>a</i>.bin",         "1", 0, "", "出错：" + words, words,
                      TransferPhase::kFailed, ""};
    downloads.ShowTransfer(0, transfer);
    transfer.name = "<i>a</i>.1.bin";
    downloads.ShowTransfer(0, transfer);
    QTableWidget* table = downloads.Table();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QString("<i>a</i>.1.bin"));
    QCOMPARE(table->item(0, 3)->text(), Utf8("出错：<b>aria2</b> &amp; <img src=x>"));
    QTextDocument tip;
    tip.setHtml(table->item(0, 3)->toolTip());
    QCOMPARE(tip.toPlainText(), QString::fromStdString(words));
    downloads.ShowTransfer(
        0, Transfer{"a.bin", "1", 1000, "", "已完成", "", TransferPhase::kComplete, ""});
    QCOMPARE(table->item(0, 3)->toolTip(), QString());
  }

  void menuIsGreyWithoutAResult() {
    test::SimWindow w;
    QVERIFY2(w.sim.ok(), w.sim.error().c_str());
    QMenu* menu = RightClick(w.window);
    QVERIFY(menu != nullptr);
    for (const char* text : {"复制普通下载地址", "复制迅雷下载地址", "复制快车下载地址",
                             "发送到 aria2 下载", "检查链接"}) {
      QVERIFY2(Item(menu, text) && !Item(menu, text)->isEnabled(), text);
    }
    QVERIFY(Item(menu, "下载设置...")->isEnabled());
    menu->close();
  }

  void itemsGreyOnceTheBoxShowsAnotherText() {
    const struct {
      const char* later;
      const char* fault;  // on the login, once
      int runs;
    } rows[] = {
        {"the third wrong captcha", nullptr, 3},
        {"a file removed at the login", "redirect:/file/40400404", 1},
        {"an unreachable service at the login", "redirect://127.0.0.1:1/gone", 1},
    };
    for (const auto& row : rows) {
      test::SimWindow w;
      QVERIFY2(w.sim.ok(), w.sim.error().c_str());
      w.Resolve(w.FileUrl());
      QVERIFY(w.result->toPlainText().startsWith(Utf8("普通下载地址：")));
      QMenu* menu = RightClick(w.window);
      QVERIFY(Item(menu, "复制普通下载地址")->isEnabled());
      menu->close();

      if (row.fault) SetLoginFault(w, row.fault);
      BoxAnswerer closer;
      for (int run = 0; run < row.runs; ++run) {
        QTest::mouseClick(w.refresh, Qt::LeftButton);
        QTest::keyClicks(w.captcha, row.fault ? "k7p2" : "wxyz");
        QTest::mouseClick(w.resolve, Qt::LeftButton);
      }
      QVERIFY2(w.result->toPlainText().startsWith(Utf8("如果您")), row.later);

      QApplication::clipboard()->setText("untouched");
      menu = RightClick(w.window);
      for (const char* text : {"复制普通下载地址", "复制迅雷下载地址", "复制快车下载地址",
                               "发送到 aria2 下载", "检查链接"}) {
        QVERIFY2(!Item(menu, text)->isEnabled(), text);
        Item(menu, text)->trigger();
      }
      menu->close();
      w.program.Controller().Choose(ResultAction::kCopyNormal);
      QCOMPARE(QApplication::clipboard()->text(), QString("untouched"));
      QCOMPARE(w.program.Downloads(), nullptr);
    }
  }

  void copiesChecksAndSendsToAria2() {
    test::SimWindow w({"--file", "99=" + file_.toStdString()});
    QVERIFY2(w.sim.ok(), w.sim.error().c_str());
    MainWindow& window = w.window;
    const QSize size = window.size();
    w.Resolve(w.FileUrl("99"));
    const QString result = w.result->toPlainText();
    QVERIFY2(result.contains("thunder://"), qPrintable(result));

    Choose(RightClick(window), "复制迅雷下载地址");
    const QString thunder = QApplication::clipboard()->text();
    QVERIFY(thunder.startsWith("thunder://"));
    QVERIFY(result.contains(Utf8("迅雷下载地址：\n\n") + thunder + "\n"));
    Choose(RightClick(window), "复制普通下载地址");
    QVERIFY(
        QApplication::clipboard()->text().startsWith(QString::fromStdString(w.sim.url("/dl/"))));

    {
      BoxAnswerer box;
      Choose(RightClick(window), "检查链接");
      QTRY_COMPARE_WITH_TIMEOUT(box.texts.size(), 1, 10000);
      QCOMPARE(box.texts[0], Utf8("文件名：样本 数据.bin\n大小：48.8 KB\n状态：下载地址有效。"));
      // The file's name is the server's: never taken for markup.
      QCOMPARE(box.formats[0], Qt::PlainText);
    }

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
    DownloadsWindow* downloads = w.program.Downloads();
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
    test::SimWindow w({"--token-seconds", "0"});
    QVERIFY2(w.sim.ok(), w.sim.error().c_str());
    MainWindow& window = w.window;
    w.Resolve(w.FileUrl("12345678"));
    const QString typed = w.address->text();
    const ByteSet before = w.program.Controller().Picture();
    BoxAnswerer box(QMessageBox::Yes);
    Choose(RightClick(window), "检查链接");
    QTRY_COMPARE_WITH_TIMEOUT(box.texts.size(), 1, 10000);
    QVERIFY2(box.texts[0].contains(Utf8("状态：下载地址已过期，请重新获取。")),
             qPrintable(box.texts[0]));
    QCOMPARE(box.formats[0], Qt::PlainText);
    QTRY_VERIFY(w.program.Controller().Picture() != before);
    QCOMPARE(w.address->text(), typed);
  }

  void transfersOfferTheirActionsAndTheWindowKeepsItsLayout() {
    test::SimWindow w;
    QVERIFY2(w.sim.ok(), w.sim.error().c_str());
    test::FakeAria2 engine;
    const QString folder = home_.filePath(Utf8("下载"));
    const std::string file = folder.toStdString() + "/a.bin";
    engine.Report({{"status", "complete"},
                   {"totalLength", "10"},
                   {"completedLength", "10"},
                   {"files", test::json::array({{{"path", file}}})}});
    DownloadSettings settings;
    settings.address = engine.Address();
    settings.folder = folder.toStdString();
    QVERIFY(settings.Save());
    w.Resolve(w.FileUrl());
    Choose(RightClick(w.window), "发送到 aria2 下载");
    DownloadsWindow* downloads = w.program.Downloads();
    QVERIFY(downloads != nullptr);
    QTableWidget* table = downloads->Table();
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(table->item(0, 3)->text(), Utf8("已完成"), 15000);

    const QPoint at = table->visualItemRect(table->item(0, 0)).center();
    QDesktopServices::setUrlHandler("file", this, "Open");
    // A press and a release, then the second press as the desktop reports it.
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, at, table->viewport()->mapToGlobal(at), Qt::LeftButton,
                        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
      QApplication::sendEvent(table->viewport(), &event);
    }
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(opened_, QList<QUrl>({QUrl::fromLocalFile(QString::fromStdString(file))}));

    QContextMenuEvent click(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &click);
    QMenu* menu = table->findChild<QMenu*>("DownloadsMenu");
    QVERIFY(menu != nullptr);
    QStringList items;
    for (QAction* action : menu->actions()) items << action->text();
    QCOMPARE(items, QStringList({Utf8("打开文件"), Utf8("打开所在文件夹"), Utf8("删除")}));

    Choose(menu, "删除");
    QCOMPARE(table->rowCount(), 0);
    QTRY_VERIFY(!engine.Calls().empty() &&
                engine.Calls().back() == R"(aria2.removeDownloadResult ["00000000000000a1"])");

    // Closed at another size, it opens at that size again.
    downloads->resize(700, 300);
    table->setColumnWidth(0, 310);
    downloads->close();
    DownloadsWindow again;
    QCOMPARE(again.size(), QSize(700, 300));
    QCOMPARE(again.Table()->columnWidth(0), 310);
  }

 private:
  QList<QUrl> opened_;
  QTemporaryDir home_;
  QString file_;
  std::string content_;
};

}  // namespace sorrel

// The user's folders are the test's own: settings, engine session.
int main(int argc, char** argv) {
  return sorrel::test::RunWithOwnFolders<sorrel::WindowDownloadsTest>(argc, argv);
}
#include "window_downloads_test.moc"
